// Interrupt at every record: a Backup + Upgrade is broken off at each block of
// the backup and at each record of the upgrade (the end record included) by
// the three things that can break it: the unit hanging up the line, a stop
// request (a key in the status line or Exit) and a unit that falls silent
// (ended by Exit, as the protocol has no time-outs). Every run must end with
// strTransferBroken, the port closed, no file left open, nothing at the save
// path unless the backup completed, the partial working copy holding exactly
// the blocks accepted; and a following Upgrade must bring the unit to exactly
// the image (after a hang-up, through a USB adapter with a 16 ms tick).
//
// The window runs with the real serial-port control (seen through the fake
// control, which counts the frames crossing it) and the real event pump; the
// units are simulators run in this process, whose report can be read while
// they run, so each step waits for what the unit has seen rather than for a time.
#include "E2e.h"

#include "CommEvents.h"
#include "DlgOpen.h"
#include "FakeCommPort.h"
#include "BackupWriter.h"
#include "MSComm.h"
#include "ProgressBar.h"
#include "Variabili.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <utility>

using namespace Variabili;
using namespace e2e;

namespace {

constexpr int kRecords = 30;              // valid records of both images
constexpr int kEndFrame = kRecords + 1;   // the end record's (and end block's) number
constexpr int kRecordSize = 16;
constexpr int kImageSize = kRecords * kRecordSize + 20;
/// A run that has not ended after this long is stopped by Exit and fails.
constexpr int kHungRunMs = 20000;

enum class Phase { Backup, Upgrade };
enum class Fault { HangUp, StopByKey, StopByExit, Silence };
/// Frames of the transfer crossing the control: backup blocks taken by Input
/// (16 bytes, 17 for the first, up to 4 more when the trailer came in the end
/// block's take) and records or trailers written by Output (16 or 4 bytes).
enum class Frame { BlockTaken, FrameSent };

/// Targets of this process's open descriptors.
QStringList openTargets()
{
    QStringList targets;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries)
        targets << QFile::symLinkTarget(fds.filePath(entry));
    return targets;
}

/// Files open anywhere under `dir`.
QStringList filesOpenUnder(const QString &dir)
{
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    const QString root = (canonical.isEmpty() ? QDir::cleanPath(dir) : canonical) + QLatin1Char('/');
    QStringList open;
    for (const QString &target : openTargets()) {
        if (target.startsWith(root))
            open << target;
    }
    return open;
}

/// The host has closed every line it opened, and the unit has seen it do so.
bool hostClosedAll(const k410sim::SimReport &r, unsigned opens)
{
    return r.hostOpens == opens && r.hostHangups == opens;
}

const char *phaseName(Phase phase)
{
    return phase == Phase::Backup ? "backup block" : "upgrade record";
}

const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::HangUp: return "hang-up at";
    case Fault::StopByKey: return "key at";
    case Fault::StopByExit: return "Exit at";
    case Fault::Silence: return "silence after";
    }
    return "";
}


} // namespace

Q_DECLARE_METATYPE(Phase)
Q_DECLARE_METATYPE(Fault)

class TestMatrix : public QObject
{
    Q_OBJECT

    const frmIstruzioni::Controls &c = frmIstruzioni::instance().controls();
    QTemporaryDir m_dir;
    QString m_unitPath;      // the unit's firmware at the start of every scenario
    QString m_imagePath;     // the release image the upgrades install
    QString m_saveDir;       // holds nothing but the saved backup
    QString m_savePath;
    QByteArray m_unitBytes;
    QByteArray m_imageBytes;
    FakeCommPort *m_port = nullptr; // the window's MSComm1 in the current run
    std::function<void()> m_armed;  // runs at the event pass after the armed frame
    int m_units = 0;

    QElapsedTimer m_clock;
    int m_runs = 0;
    QMap<QString, int> m_endings; // ending (status line / error box) -> runs

    QString path(const QString &name) const { return m_dir.filePath(name); }

    /// A quick unit: found by the port test at its first setting, no pacing, a
    /// short erase, the trailer right behind the end block.
    k410sim::SimOptions unitOptions(const QString &firmware)
    {
        k410sim::SimOptions o;
        o.firmwarePath = QFile::encodeName(firmware).toStdString();
        o.probeSpeed = 110;
        o.eraseMs = 1;
        o.readyDelayMs = 0;
        o.outPath = QFile::encodeName(path(QStringLiteral("units/unit-%1.bin").arg(++m_units))).toStdString();
        return o;
    }

    static QString outPath(const k410sim::SimOptions &o) { return QFile::decodeName(o.outPath.c_str()); }

    /// A freshly loaded window walked to the start step: the real port test
    /// finds the unit on COM1, then the mode is chosen. MSComm1 is a real
    /// control seen through the fake one (m_port), which records what crosses.
    frmIstruzioni &toStartStep(const QString &device, bool backup)
    {
        mapPorts({device, "", "", ""});
        auto port = std::make_unique<FakeCommPort>(std::make_unique<MSComm>());
        m_port = port.get();
        frmIstruzioni &w = freshWindow(std::move(port));
        DlgOpen::setAnswerer([this](bool save, const QString &, const QString &, const QString &) {
            return std::optional<QString>(save ? m_savePath : m_imagePath);
        });
        walkToStart(w, backup);
        return w;
    }

    /// Frames of `kind` that crossed the control since the last reset.
    int frames(Frame kind) const
    {
        const QList<QByteArray> &crossed = kind == Frame::BlockTaken ? m_port->takes : m_port->writes;
        return int(std::count_if(crossed.cbegin(), crossed.cend(), [kind](const QByteArray &bytes) {
            return kind == Frame::BlockTaken ? bytes.size() >= 16 && bytes.size() <= 17 + 4
                                             : bytes.size() == 16 || bytes.size() == 4;
        }));
    }
    /// Zeroes both counts and disarms.
    void resetFrames()
    {
        m_port->writes.clear();
        m_port->takes.clear();
        m_armed = nullptr;
    }
    /// Queues `action` (to run at the next event pass, exactly where a key
    /// press or a click on Exit would reach the procedure) once the `k`-th
    /// frame of `kind` has crossed.
    void armAt(Frame kind, int k, std::function<void()> action)
    {
        m_armed = std::move(action);
        m_port->onTransfer = [this, kind, k] {
            if (m_armed && frames(kind) == k)
                QMetaObject::invokeMethod(m_port, std::exchange(m_armed, nullptr), Qt::QueuedConnection);
        };
    }

    /// Presses Start and returns once the procedure has ended. A run still going
    /// after kHungRunMs is stopped by Exit and reported through `hung`.
    void runStart(frmIstruzioni &w, bool &hung)
    {
        hung = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, &w, [this, &hung] {
            hung = true;
            c.cmdAnnulla->click();
        });
        watchdog.start(kHungRunMs);
        c.cmdStart->click();
        ++m_runs;
        QString ending = c.Text1(6)->toPlainText();
        if (!c.txtError->isHidden())
            ending += QStringLiteral(" / error box: ") + c.txtError->text();
        ++m_endings[ending];
    }

    /// No descriptor left on the working file, the save directory or the image.
    /// (The units keep their files apart, in "units".)
    void checkNoFileOpen()
    {
        const QStringList open = filesOpenUnder(path(QStringLiteral("work"))) + filesOpenUnder(m_saveDir)
                                 + filesOpenUnder(path(QStringLiteral("images")));
        QVERIFY2(open.isEmpty(), qPrintable(QStringLiteral("left open: ") + open.join(QStringLiteral(", "))));
    }

    QStringList saveDirEntries() const
    {
        return QDir(m_saveDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (qEnvironmentVariableIsSet("K410_MATRIX_KEEP")) {
            m_dir.setAutoRemove(false);
            qInfo("files in %s", qPrintable(m_dir.path()));
        }
        qputenv("K410_WORKDIR", QFile::encodeName(path(QStringLiteral("work"))));
        ImageFile::BackupWriter::setWorkingDirectory(QString());
        m_saveDir = path(QStringLiteral("save"));
        QVERIFY(QDir().mkpath(m_saveDir));
        QVERIFY(QDir().mkpath(path(QStringLiteral("images"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("units"))));
        m_savePath = QDir(m_saveDir).filePath(QStringLiteral("backup.bak"));

        // The unit's firmware and the release image differ in every record.
        m_unitBytes = toBytes(k410sim::generateImage(kRecords, 11));
        m_imageBytes = toBytes(k410sim::generateImage(kRecords, 22));
        QCOMPARE(m_unitBytes.size(), kImageSize);
        QCOMPARE(m_imageBytes.size(), kImageSize);
        for (int r = 0; r < kRecords; ++r)
            QVERIFY(m_unitBytes.mid(r * kRecordSize, kRecordSize) != m_imageBytes.mid(r * kRecordSize, kRecordSize));
        m_unitPath = path(QStringLiteral("units/unit.bak"));
        m_imagePath = path(QStringLiteral("images/release.bio"));
        QVERIFY(writeAll(m_unitPath, m_unitBytes));
        QVERIFY(writeAll(m_imagePath, m_imageBytes));
        m_clock.start();
    }

    void init()
    {
        for (const QString &entry : saveDirEntries())
            QVERIFY(QFile::remove(QDir(m_saveDir).filePath(entry)));
        QFile::remove(ImageFile::BackupWriter::workingFilePath());
    }

    void cleanup()
    {
        unloadWindow();
        m_port = nullptr;
    }

    void cleanupTestCase()
    {
        const qint64 ms = m_clock.elapsed();
        qInfo("%d runs in %lld ms (%.1f ms a run)", m_runs, ms, m_runs ? double(ms) / m_runs : 0.0);
        for (auto it = m_endings.cbegin(); it != m_endings.cend(); ++it)
            qInfo("%4d x %s", it.value(), qPrintable(it.key()));
    }

    void interrupt_data()
    {
        QTest::addColumn<Phase>("phase");
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("k");
        for (Phase phase : {Phase::Backup, Phase::Upgrade}) {
            for (int k = 1; k <= kEndFrame; ++k) {
                // Stops alternate between the two ways a technician makes them.
                const Fault stop = k % 2 ? Fault::StopByKey : Fault::StopByExit;
                for (Fault fault : {Fault::HangUp, stop, Fault::Silence})
                    QTest::addRow("%s %s %d", phaseName(phase), faultName(fault), k)
                        << phase << fault << k;
            }
        }
    }

    void interrupt()
    {
        QFETCH(Phase, phase);
        QFETCH(Fault, fault);
        QFETCH(int, k);
        const bool inBackup = phase == Phase::Backup;
        const bool stop = fault == Fault::StopByKey || fault == Fault::StopByExit;

        k410sim::SimOptions options = unitOptions(m_unitPath);
        if (fault == Fault::HangUp)
            (inBackup ? options.hangupAtBlock : options.hangupAtRecord) = unsigned(k);
        if (fault == Fault::Silence)
            (inBackup ? options.silentAfterBlock : options.silentAfterRecord) = unsigned(k);
        auto unit = std::make_unique<SimUnit>(options);
        QVERIFY2(unit->start(), qPrintable(unit->errorText()));
        const QString device = unit->device();

        // ---- The broken run: Backup + Upgrade ---------------------------------
        frmIstruzioni &w = toStartStep(device, true);
        QVERIFY(atStartStep(w));
        QCOMPARE(c.cmdStart->text(), strStartBackUp);

        const auto kind = inBackup ? Frame::BlockTaken : Frame::FrameSent;
        // A record is on the wire once the unit has it. (A pseudo-terminal hands
        // the bytes over at once, and closing the port puts the line back to its
        // earlier speed: bytes the unit has not read by then would reach it as
        // if sent at the wrong speed, which no real line does.)
        const auto onWire = [&] {
            if (!inBackup)
                QVERIFY(unit->waitFor([k](const k410sim::SimReport &r) { return r.recordsReceived >= unsigned(k); }));
        };
        resetFrames();
        if (fault == Fault::StopByKey) {
            armAt(kind, k, [&] {
                onWire();
                QTest::keyClick(c.Text1(6), Qt::Key_Shift);
            });
        }
        if (fault == Fault::StopByExit) {
            armAt(kind, k, [&] {
                onWire();
                c.cmdAnnulla->click();
            });
        }
        // A silent unit: Exit once the host has taken the last block and waits
        // for the next, or has sent the next record (or the trailer) and waits
        // for its answer.
        std::unique_ptr<QTimer> exitOnSilence;
        if (fault == Fault::Silence) {
            exitOnSilence = when(
                [&] {
                    const bool hostWaits = inBackup ? frames(Frame::BlockTaken) == k : frames(Frame::FrameSent) == k + 1;
                    return hostWaits && unit->report().silent;
                },
                [this] { c.cmdAnnulla->click(); });
        }

        bool hung = false;
        runStart(w, hung);
        exitOnSilence.reset();
        QVERIFY2(!hung, "the run did not end by itself");

        checkNormalEnding(w, strTransferBroken);
        if (QTest::currentTestFailed())
            return;
        if (fault == Fault::HangUp) {
            // The lost line is reported through OnComm while the bar shows.
            QVERIFY(!c.txtError->isHidden());
            QCOMPARE(c.txtError->text(), CommEvents::eventText(CommEvents::comEventDeviceLost));
        } else {
            QVERIFY(c.txtError->isHidden());
        }
        checkNoFileOpen();
        if (QTest::currentTestFailed())
            return;

        // The unit: a hang-up ended it; otherwise it saw the host close the line.
        if (fault == Fault::HangUp) {
            QVERIFY(unit->waitFor([](const k410sim::SimReport &r) { return r.endReason != "running"; }));
            QCOMPARE(unit->report().endReason, std::string(inBackup ? "hangup-at-block" : "hangup-at-record"));
            unit->stop();
        } else {
            QVERIFY2(unit->waitFor([](const k410sim::SimReport &r) { return hostClosedAll(r, 2); }),
                     unit->reportText().constData());
        }
        QCOMPARE(descriptorsOn(device), unit->finished() ? 0 : 1); // the unit's own while it runs
        const k410sim::SimReport seen = unit->report();
        QCOMPARE(seen.upgradesCompleted, 0u);
        if (inBackup)
            QCOMPARE(seen.eraseRequests, 0u); // never erased without a saved backup

        // What was kept: blocks accepted by the host, records stored by the unit.
        const int kept = fault == Fault::HangUp ? k - 1 : k;
        const QString workPath = ImageFile::BackupWriter::workingFilePath();
        QVERIFY(QFile::exists(workPath));
        const QByteArray work = readAll(workPath);
        if (inBackup) {
            QCOMPARE(frames(Frame::BlockTaken), kept);
            QCOMPARE(work, m_unitBytes.left(kept * kRecordSize)); // the partial copy stays
            QCOMPARE(saveDirEntries(), QStringList());            // nothing saved
            QCOMPARE(unit->firmware(), m_unitBytes);
        } else {
            QCOMPARE(frames(Frame::BlockTaken), kEndFrame);
            QCOMPARE(work, m_unitBytes);
            QCOMPARE(saveDirEntries(), QStringList{QStringLiteral("backup.bak")});
            QCOMPARE(readAll(m_savePath), m_unitBytes);
            QCOMPARE(unit->firmware(), m_imageBytes.left(kept * kRecordSize));
        }
        if (stop)
            QCOMPARE(inBackup ? frames(Frame::BlockTaken) : frames(Frame::FrameSent), k); // stopped where asked

        // ---- The following Upgrade -------------------------------------------
        // A unit that hung up or fell silent is switched off and on again: a
        // fresh one holding what the last one stored. After a hang-up the line
        // comes back through a USB adapter that hands its output over every
        // 16 ms (each exchange then costs a tick, so only these runs use it).
        unsigned opens = 2;
        if (!stop) {
            unit->stop();
            const QString state = outPath(options);
            QCOMPARE(readAll(state), inBackup ? m_unitBytes : m_imageBytes.left(kept * kRecordSize));
            options = unitOptions(state);
            if (fault == Fault::HangUp)
                options.latencyMs = 16;
            unit = std::make_unique<SimUnit>(options);
            QVERIFY2(unit->start(), qPrintable(unit->errorText()));
            opens = 0;
        }
        frmIstruzioni &again = toStartStep(unit->device(), false);
        QVERIFY(atStartStep(again));
        QCOMPARE(c.cmdStart->text(), strStartUpgr);
        resetFrames();

        runStart(again, hung);
        QVERIFY2(!hung, "the following upgrade did not end by itself");

        checkNormalEnding(again, strUpgrDone);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(c.txtError->isHidden());
        checkNoFileOpen();
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(frames(Frame::FrameSent), kEndFrame + 1); // every record and the trailer, once
        QVERIFY2(unit->waitFor([opens](const k410sim::SimReport &r) { return hostClosedAll(r, opens + 2); }),
                 unit->reportText().constData());
        QCOMPARE(descriptorsOn(unit->device()), 1);
        unit->stop();
        QCOMPARE(unit->report().upgradesCompleted, 1u);
        QCOMPARE(readAll(outPath(options)), m_imageBytes);
        // The upgrade leaves the backup files alone.
        QCOMPARE(readAll(workPath), work);
        QCOMPARE(saveDirEntries().isEmpty(), inBackup);
    }
};

QTEST_MAIN(TestMatrix)

#include "tst_matrix.moc"
