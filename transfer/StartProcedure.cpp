#include "StartProcedure.h"

#include "CommControl.h"
#include "FileDialog.h"
#include "CommEvents.h"
#include "Progress.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "Texts.h"
#include "Trace.h"
#include "TransferView.h"
#include "Variabili.h"

#include <QDir>
#include <QStringList>

using namespace Variabili;

namespace {
const QString kRunningOpen = QStringLiteral("     (");
} // namespace

void runStartProcedure(CommControl &MSComm1, EventPump &pump, TransferView &view)
{
    StartProcedure(MSComm1, pump, view).run();
}

StartProcedure::StartProcedure(CommControl &port, EventPump &pump, TransferView &view)
    : MSComm1(port), m_pump(pump), m_view(view)
{
}

void StartProcedure::run()
{
    const Clock::time_point started = m_now();
    const int lineErrorsBefore = CommEvents::lineErrorsSeen();
    if (!m_job)
        m_job = bytMode != 2 ? TransferJob::BackupAndUpgrade : TransferJob::Upgrade;
    const TransferJob job = *m_job;
    static const char *const kinds[] = {"Backup + Upgrade", "Upgrade", "Backup", "Verify"};
    static const char *const traceWords[] = {"backup+upgrade", "upgrade", "backup", "verify"};
    m_record.kind = QLatin1String(kinds[int(job)]);
    m_record.port = intComPort;
    m_record.settings = QString::fromLatin1(kTransferSettings);
    m_result = Result{};
    if (Trace::enabled())
        Trace::line(QStringLiteral("START transfer %1 on COM%2")
                        .arg(QLatin1String(traceWords[int(job)]))
                        .arg(intComPort));
    try {
        start();
        try {
            bool damaged = false;
            switch (job) {
            case TransferJob::BackupAndUpgrade:
                backup();
                damaged = upgrade() == UpgradeEnd::Damaged;
                break;
            case TransferJob::Upgrade:
                damaged = upgrade() == UpgradeEnd::Damaged;
                break;
            case TransferJob::Backup:
                backup();
                break;
            case TransferJob::Verify:
                damaged = !loadCheckedImage();
                if (!damaged)
                    verify();
                break;
            }
            if (damaged) {
                damagedFileEnding();
                writeRunRecord(started, lineErrorsBefore);
                return;
            }
        } catch (const Protocol::TransferStopped &) {
            // A check point saw the stop request: the normal ending reports it.
        }
        normalEnding();
    } catch (const RunTimeError &error) {
        errorEnding(error);
    }
    writeRunRecord(started, lineErrorsBefore);
}

// The run's entry goes into the run record; a record that cannot be written
// changes nothing of the run (the trace says why, when one is kept).
void StartProcedure::writeRunRecord(Clock::time_point started, int lineErrorsBefore)
{
    m_record.version = RunRecord::programVersion();
    m_record.language = RunRecord::languageName();
    m_record.duration = std::chrono::duration_cast<std::chrono::milliseconds>(m_now() - started);
    m_record.lineErrors = CommEvents::lineErrorsSeen() - lineErrorsBefore;
    if (m_downloadStarted && m_session) {
        m_record.recordsSent = m_session->recordsSent();
        if (m_session->meanRecordAnswer() > Clock::duration::zero())
            m_record.meanRecordAnswer = std::chrono::duration_cast<std::chrono::microseconds>(m_session->meanRecordAnswer());
    }
    m_result.record = m_record;
    const QString why = RunRecord::append(m_record);
    if (!why.isEmpty() && Trace::enabled())
        Trace::line(QStringLiteral("NOTE run record not written: ") + why);
}

void StartProcedure::start()
{
    m_view.setTransferPicturesVisible(true);
    m_view.hideStart();
    m_view.setModeFrameVisible(false);

    MSComm1.setCommPort(intComPort);
    MSComm1.setSettings(QString::fromLatin1(kTransferSettings));
    MSComm1.setPortOpen(true);
    m_record.device = MSComm1.device();

    m_session.emplace(MSComm1, m_pump, m_now);

    strEnq = QByteArray(1, Protocol::ENQ);
    strAck = QByteArray(1, Protocol::ACK);
    strNak = QByteArray(1, Protocol::NAK);

    m_view.setStartEnabled(false);
}

void StartProcedure::showLinking()
{
    m_view.setInstruction(strIstrPowerOn);
    m_view.placeStatusLine();
    m_view.setStatus(strLinking);
}

// Reads the unit's firmware: the link exchange, the read request, the block
// upload and the backup closing. With `save` the bytes also go into the working
// file as they come (the places were checked before); either way they are
// returned.
QByteArray StartProcedure::readUnit(bool save)
{
    // Ask for the unit to be switched on, say the link is being made, empty the bar.
    showLinking();
    m_view.setProgressValue(0.0f);

    // Link exchange, then ask the unit for its firmware.
    Protocol::Session &session = *m_session;
    session.linkExchange();
    session.readRequest();

    // The working file is created empty before the go-ahead that starts the
    // upload; the status line names the file the backup will be saved to.
    QByteArray readOut;
    if (save)
        m_backup.create();
    m_view.setStatus(strBackUpActive + kRunningOpen + (save ? m_savePath : m_imagePath) + QLatin1Char(')'));
    m_view.progressPlanned(-1); // the unit's firmware says how long it is only at its end
    session.sendGoAhead();

    // The upload: each valid block's record, the end record and the trailer.
    const auto store = [&](const QByteArray &bytes) {
        if (save)
            m_backup.append(bytes);
        else
            readOut += bytes;
    };
    session.blockUpload([this] { applyProgressStep(); }, store);
    session.backupClosing(store);
    if (!save)
        return readOut;
    m_backup.finish();
    return m_backup.bytes();
}

void StartProcedure::backup()
{
    // Ask where the backup goes; FileName keeps the last name chosen in either dialog.
    FileDialog &dlg = m_view.dlgOpen();
    dlg.DialogTitle = strSaveTitle;
    dlg.Filter = QString::fromLatin1(kSaveFilter);
    dlg.ShowSave();
    m_savePath = dlg.FileName;
    // A path that cannot take the backup, or a working folder that cannot
    // take the working file, ends the run now, before the unit is asked for
    // anything, rather than after the whole backup was read. Both folders are
    // held from here on.
    m_saveTarget.open(m_savePath);
    m_backup.check();

    readUnit(true);
    // Saved from the bytes received, not from the working file read back: a
    // working copy that could not be written costs nothing of the backup.
    const ImageFile::Failure workingProblem = m_backup.problem();
    const QString moved = m_saveTarget.commit(m_backup.bytes(), m_backup.path(), workingProblem);
    m_record.backup = RunRecord::factsOf(QDir::toNativeSeparators(m_savePath), m_backup.bytes());

    // Backup saved; on to the upgrade at once, on the open port, with the
    // progress display emptied and hidden.
    m_view.setStatus(strBiosSaved);
    m_view.setProgressVisible(false);
    m_view.setProgressValue(0.0f);
    m_view.setProgressCaptionVisible(false);
    m_view.setProgressCaption(Progress::zeroCaption());

    // What went otherwise than planned, though the backup is saved, stays in
    // the error box for the technician to read; the system's words come last.
    QStringList notices;
    if (!workingProblem.isEmpty())
        notices << workingProblem.words + QStringLiteral(". ")
                       + Texts::text(Texts::Key::SavedFromMemory)
                             .arg(QLatin1Char('"') + QDir::toNativeSeparators(m_savePath) + QLatin1Char('"'));
    if (!moved.isEmpty())
        notices << moved;
    if (!notices.isEmpty()) {
        const QString notice = ImageFile::Failure{notices.join(QStringLiteral(". ")), workingProblem.system}.text();
        m_record.notes << QStringLiteral("Notice: ") + notice;
        if (Trace::enabled())
            Trace::line(QStringLiteral("NOTE ") + notice);
        m_view.showError(notice);
    }
}

// The open dialog, then the chosen image read once and checked. False for a
// damaged image (nothing is sent to the unit then).
bool StartProcedure::loadCheckedImage()
{
    FileDialog &dlg = m_view.dlgOpen();
    dlg.DialogTitle = strOpenTitle;
    dlg.FileName = QString();
    dlg.Filter = QString::fromLatin1(kOpenFilter);
    dlg.ShowOpen();
    m_imagePath = dlg.FileName;

    // The image is read once; nothing is sent before all of it has been
    // checked, and what is sent later is these same bytes.
    m_image = ImageFile::loadImage(m_imagePath);
    m_record.image = RunRecord::factsOf(QDir::toNativeSeparators(m_imagePath), m_image.bytes);
    return ImageFile::validateImage(m_image) == ImageFile::Verdict::Accepted;
}

// Reads the unit out and compares what it holds with the image's records, end
// record and trailer (what an image file holds beyond them is never sent).
void StartProcedure::verify()
{
    const QByteArray unit = readUnit(false);
    QByteArray expected;
    m_reader.open(m_image);
    for (;;) {
        const QByteArray record = m_reader.nextRecord();
        expected += record;
        if (Protocol::isEndRecord(record))
            break;
    }
    expected += m_reader.trailer();
    m_reader.close();
    m_result.identical = unit == expected;
    if (!m_result.identical) {
        qsizetype i = 0;
        while (i < unit.size() && i < expected.size() && unit[i] == expected[i])
            ++i;
        m_result.firstDifference = int(i / Protocol::RECORD_SIZE) + 1;
    }
    const RunRecord::FileFacts read = RunRecord::factsOf(QString(), unit);
    m_record.notes << QStringLiteral("Read from the unit: %1 bytes, SHA-256 %2")
                          .arg(read.size)
                          .arg(QString::fromLatin1(read.sha256Hex));
}

StartProcedure::UpgradeEnd StartProcedure::upgrade()
{
    // Ask for the image to write, read it and check it.
    if (!loadCheckedImage())
        return UpgradeEnd::Damaged;

    // Empty the bar, ask for the unit to be switched on, say the link is being made.
    m_view.setProgressValue(0.0f);
    showLinking();

    Protocol::Session &session = *m_session;
    const auto rejected = [this] { m_view.setStatus(strFileDamaged); };
    for (;;) {
        // Link exchange, then the erase request, answered once the unit has
        // erased its firmware.
        session.linkExchange();
        m_view.setStatus(strErasing);
        session.eraseRequest();

        // Every record of the image, up to and including the end record, is
        // sent until the unit takes it; the bar advances once per record.
        m_reader.open(m_image);
        m_downloadStarted = true;
        int steps = 1;
        while (!Protocol::isEndRecord(QByteArrayView(m_image.bytes).sliced((steps - 1) * Protocol::RECORD_SIZE,
                                                                         Protocol::RECORD_SIZE)))
            ++steps;
        m_view.progressPlanned(steps);
        m_view.setStatus(strUpgrActive + kRunningOpen + m_imagePath + QLatin1Char(')'));
        for (;;) {
            const QByteArray record = m_reader.nextRecord();
            Protocol::checkStop();
            applyProgressStep();
            session.downloadRecord(record, rejected);
            if (Protocol::isEndRecord(record))
                break;
        }

        // The trailer goes last and the unit's answer decides: completed, or
        // the whole download again from the link exchange, with the bar emptied.
        if (session.upgradeClosing(m_reader.trailer()) == Protocol::ClosingAnswer::Completed)
            return UpgradeEnd::Completed;
        m_reader.close();
        m_view.setProgressValue(0.0f);
    }
}

// The value is accumulated in the bar itself: read it, add the step, store it,
// and caption what the bar holds afterwards.
void StartProcedure::applyProgressStep()
{
    m_view.setProgressVisible(true);
    m_view.setProgressValue(Progress::nextValue(m_view.progressValue()));
    m_view.setProgressCaptionVisible(true);
    m_view.setProgressCaption(Progress::caption(m_view.progressValue()));
}

void StartProcedure::closeFiles()
{
    m_backup.close();
    m_saveTarget.cancel(); // a backup not saved leaves the chosen path as it was
    m_reader.close();
}

void StartProcedure::normalEnding()
{
    if (Trace::enabled())
        Trace::line(stopRequested() ? QStringLiteral("END transfer normal/stopped")
                                    : QStringLiteral("END transfer normal/complete"));
    closeFiles();
    m_result.ending = stopRequested() ? Ending::Stopped : Ending::Completed;
    m_record.ending = stopRequested() ? QStringLiteral("stopped") : QStringLiteral("complete");
    if (m_job == TransferJob::Verify && !stopRequested())
        m_record.ending = m_result.identical
                              ? QStringLiteral("complete, the unit holds exactly the image")
                              : QStringLiteral("complete, the unit differs from the image from record %1")
                                    .arg(m_result.firstDifference);
    // A backup alone ends saved; a read-out to compare leaves its result to the caller.
    if (stopRequested())
        m_view.setStatus(strTransferBroken);
    else if (m_job != TransferJob::Verify)
        m_view.setStatus(m_job == TransferJob::Backup ? strBiosSaved : strUpgrDone);
    strFerma.clear();
    MSComm1.setPortOpen(false);
    m_view.setProgressVisible(false);
    m_view.setProgressValue(0.0f);
    m_view.setProgressCaptionVisible(false);
    m_view.setTransferPicturesVisible(false);
    bytMode = 0;
}

void StartProcedure::damagedFileEnding()
{
    if (Trace::enabled())
        Trace::line(QStringLiteral("END transfer damaged-file ") + m_imagePath);
    closeFiles();
    m_result.ending = Ending::Damaged;
    m_record.ending = QStringLiteral("damaged image, nothing sent");
    m_view.setStatus(strFileDamaged);
    strFerma.clear();
    MSComm1.setPortOpen(false);
    m_view.setProgressCaptionVisible(false);
    m_view.setTransferPicturesVisible(false);
}

void StartProcedure::errorEnding(const RunTimeError &error)
{
    if (Trace::enabled())
        Trace::line(QStringLiteral("END transfer error %1 %2").arg(QString::number(error.number()), error.description()));
    m_record.ending = QStringLiteral("error %1: %2").arg(QString::number(error.number()), error.description());
    m_result.ending = Ending::Error;
    m_result.errorNumber = error.number();
    m_result.errorText = error.description();
    m_view.setInstruction(strIstrMode);
    m_view.setTransferPicturesVisible(false);
    m_view.showNextAndPrevious();
    m_view.setModeFrameVisible(true);
    m_view.clearModeOptions();
    // Already on the error ending: the first error is the one to show.
    closePortQuietly(MSComm1);
    closeFiles();
    m_view.setStartEnabled(true);
    m_view.showError(error.description());
}
