#include "StartProcedure.h"

#include "CommControl.h"
#include "FileDialog.h"
#include "Progress.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "Trace.h"
#include "TransferView.h"
#include "Variabili.h"

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
    if (Trace::enabled())
        Trace::line(QStringLiteral("START transfer %1 on COM%2")
                        .arg(bytMode != 2 ? QStringLiteral("backup+upgrade") : QStringLiteral("upgrade"))
                        .arg(intComPort));
    try {
        start();
        try {
            if (bytMode != 2)
                backup();
            if (upgrade() == UpgradeEnd::Damaged) {
                damagedFileEnding();
                return;
            }
        } catch (const Protocol::TransferStopped &) {
            // A check point saw the stop request: the normal ending reports it.
        }
        normalEnding();
    } catch (const RunTimeError &error) {
        errorEnding(error);
    }
}

void StartProcedure::start()
{
    m_view.setTransferPicturesVisible(true);
    m_view.hideStart();
    m_view.setModeFrameVisible(false);

    MSComm1.setCommPort(intComPort);
    MSComm1.setSettings(QString::fromLatin1(kTransferSettings));
    MSComm1.setPortOpen(true);

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

void StartProcedure::backup()
{
    // B1: save dialog; FileName keeps the last name chosen in either dialog.
    FileDialog &dlg = m_view.dlgOpen();
    dlg.DialogTitle = strSaveTitle;
    dlg.Filter = QString::fromLatin1(kSaveFilter);
    dlg.ShowSave();
    m_savePath = dlg.FileName;
    // A path that cannot take the backup ends the run now, before the unit is
    // asked for anything, rather than after the whole backup was read.
    m_saveTarget.open(m_savePath);

    // B2
    showLinking();
    m_view.setProgressValue(0.0f);

    // B3
    Protocol::Session session(MSComm1, m_pump, m_now);
    session.linkExchange();
    session.readRequest();

    // B4
    m_backup.create();
    m_view.setStatus(strBackUpActive + kRunningOpen + m_savePath + QLatin1Char(')'));
    session.sendGoAhead();

    // B5, B6
    const auto store = [this](const QByteArray &bytes) { m_backup.append(bytes); };
    session.blockUpload([this] { applyProgressStep(); }, store);
    session.backupClosing(store);
    m_backup.finish();
    // Saved from the bytes received, not from the working file read back.
    m_saveTarget.commit(m_backup.bytes(), ImageFile::BackupWriter::workingFilePath());

    // B7: on to the upgrade at once, on the open port.
    m_view.setStatus(strBiosSaved);
    m_view.setProgressVisible(false);
    m_view.setProgressValue(0.0f);
    m_view.setProgressCaptionVisible(false);
    m_view.setProgressCaption(Progress::zeroCaption());
}

StartProcedure::UpgradeEnd StartProcedure::upgrade()
{
    // U1: open dialog.
    FileDialog &dlg = m_view.dlgOpen();
    dlg.DialogTitle = strOpenTitle;
    dlg.FileName = QString();
    dlg.Filter = QString::fromLatin1(kOpenFilter);
    dlg.ShowOpen();
    m_imagePath = dlg.FileName;

    // U2: the image is read once; nothing is sent before all of it has been
    // checked, and what is sent later is these same bytes.
    m_image = ImageFile::loadImage(m_imagePath);
    if (ImageFile::validateImage(m_image) == ImageFile::Verdict::Damaged)
        return UpgradeEnd::Damaged;

    // U3
    m_view.setProgressValue(0.0f);
    showLinking();

    Protocol::Session session(MSComm1, m_pump, m_now);
    const auto rejected = [this] { m_view.setStatus(strFileDamaged); };
    for (;;) {
        // U4, U5
        session.linkExchange();
        m_view.setStatus(strErasing);
        session.eraseRequest();

        // U6, U7
        m_reader.open(m_image);
        m_view.setStatus(strUpgrActive + kRunningOpen + m_imagePath + QLatin1Char(')'));
        for (;;) {
            const QByteArray record = m_reader.nextRecord();
            Protocol::checkStop();
            applyProgressStep();
            session.downloadRecord(record, rejected);
            if (Protocol::isEndRecord(record))
                break;
        }

        // U8: the unit's answer to the trailer decides.
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
    m_view.setStatus(stopRequested() ? strTransferBroken : strUpgrDone);
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
    m_view.setInstruction(strIstrMode);
    m_view.setTransferPicturesVisible(false);
    m_view.showNextAndPrevious();
    m_view.setModeFrameVisible(true);
    m_view.clearModeOptions();
    try {
        if (MSComm1.PortOpen())
            MSComm1.setPortOpen(false);
    } catch (const RunTimeError &) {
        // Already on the error ending: the first error is the one to show.
    }
    closeFiles();
    m_view.setStartEnabled(true);
    m_view.showError(error.description());
}
