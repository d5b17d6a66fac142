// Backup and upgrade through the window: the wizard is walked to the start
// step through the real port test, Start runs the whole procedure against a
// simulated unit, and the test compares what reached the unit and the disk.
#include "E2e.h"

#include "CommEvents.h"
#include "DlgOpen.h"
#include "EndSignals.h"
#include "FakeCommPort.h"
#include "BackupWriter.h"
#include "PlatformFile.h"
#include "ProgressBar.h"
#include "Variabili.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Variabili;
using namespace e2e;

namespace {

// The unit's own firmware and the release image differ, so an upgrade shows.
const QStringList kUnitFirmware{"--records", "60", "--seed", "11"};
const QStringList kReleaseImage{"--records", "60", "--seed", "22"};

struct DialogCall
{
    bool save;
    QString title;
    QString filter;
};

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

    const frmIstruzioni::Controls &c = frmIstruzioni::instance().controls();
    QTemporaryDir m_dir;
    QString m_release;     // release image, 60 records
    QString m_unitImage;   // the simulated unit's firmware before any upgrade
    QString m_savePath;    // where the save dialog puts the backup
    QString m_imagePath;   // what the open dialog chooses
    QList<DialogCall> m_dialogs;
    std::optional<bool> m_cancel; // cancel the save (true) or the open (false) dialog

    QString path(const QString &name) const { return m_dir.filePath(name); }

    /// Dialogs answered with m_savePath and m_imagePath, every call recorded.
    void answerDialogs()
    {
        DlgOpen::setAnswerer([this](bool save, const QString &title, const QString &filter,
                                    const QString &) -> std::optional<QString> {
            m_dialogs.append({save, title, filter});
            if (m_cancel && *m_cancel == save)
                return std::nullopt;
            return save ? m_savePath : m_imagePath;
        });
    }

    /// Sim options for a unit on COM1 that the port test finds at once.
    static QStringList unitArgs(const QStringList &extra)
    {
        return QStringList{"--probe-speed", "110", "--erase-ms", "20"} + kUnitFirmware + extra;
    }

    /// From the cable step to the start step: the real port test finds the unit
    /// on COM1, then the mode is chosen.
    frmIstruzioni &toStartStep(const QString &device, bool backup)
    {
        mapPorts({device, "", "", ""});
        frmIstruzioni &w = freshWindow();
        walkToStart(w, backup);
        answerDialogs();
        return w;
    }

    /// The error ending: back at the mode step with neither option selected and
    /// the error's description in the error box.
    void checkErrorEnding(frmIstruzioni &w, const QString &inError)
    {
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrMode);
        QVERIFY(!c.fraMode->isHidden());
        QVERIFY(!c.optBakUp->isChecked());
        QVERIFY(!c.optUpgr->isChecked());
        QVERIFY(!c.cmdOk->isHidden());
        QVERIFY(!c.cmdPrec->isHidden());
        QVERIFY(c.cmdStart->isHidden());
        QVERIFY(c.cmdStart->isEnabled());
        QVERIFY(c.Image5->isHidden());
        QVERIFY(c.Image6->isHidden());
        QVERIFY(!w.MSComm1().PortOpen());
        QVERIFY(!c.txtError->isHidden());
        QVERIFY2(c.txtError->text().contains(inError, Qt::CaseInsensitive), qPrintable(c.txtError->text()));
        QCOMPARE(c.txtError->cursorPosition(), 0); // the start of a long text shows
    }

    /// Nothing of the transfer stays open: neither the line nor a file.
    void checkNothingOpen(const SimUnit &unit)
    {
        QCOMPARE(unit.hostDescriptors(), 0);
        QCOMPARE(descriptorsOn(m_imagePath), 0);
        QCOMPARE(descriptorsOn(ImageFile::BackupWriter::workingFilePath()), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (qEnvironmentVariableIsSet("K410_E2E_KEEP")) { // keep reports and files for a look
            m_dir.setAutoRemove(false);
            qInfo("files in %s", qPrintable(m_dir.path()));
        }
        qputenv("K410_WORKDIR", QFile::encodeName(path("work")));
        m_release = path("release.bio");
        m_unitImage = path("unit.bio");
        QVERIFY(writeAll(m_release, SimUnit::image(kReleaseImage)));
        QVERIFY(writeAll(m_unitImage, SimUnit::image(kUnitFirmware)));
        QCOMPARE(readAll(m_release).size(), 60 * 16 + 20);
        QVERIFY(readAll(m_release) != readAll(m_unitImage));
    }

    void init()
    {
        m_dialogs.clear();
        m_cancel.reset();
        m_savePath = path("saved.bak");
        m_imagePath = m_release;
        QFile::remove(m_savePath);
        QFile::remove(ImageFile::BackupWriter::workingFilePath());
    }

    void cleanup() { unloadWindow(); }

    // The whole road: backup saved byte for byte, the unit holding the image
    // afterwards, the status texts in order and the progress display at the end.
    void backupAndUpgrade()
    {
        SimUnit unit(unitArgs({}));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), true);
        QVERIFY(atStartStep(w));
        QCOMPARE(c.cmdStart->text(), strStartBackUp);
        StatusLog log(c.Text1(6));

        c.cmdStart->click();

        checkNormalEnding(w, strUpgrDone);
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOn);
        QCOMPARE(c.Text1(6)->pos(), QPoint(24, 240));
        // 61 steps (60 records and the end record) take the bar just past 1%.
        QCOMPARE(c.Label2->text(), QStringLiteral("803 byte 1%"));
        QVERIFY(c.txtError->isHidden());
        QCOMPARE(log.texts(), (QStringList{strLinking, strBackUpActive + "     (" + m_savePath + ")", strBiosSaved,
                                           strLinking, strErasing, strUpgrActive + "     (" + m_imagePath + ")",
                                           strUpgrDone}));
        QCOMPARE(m_dialogs.size(), 2);
        QVERIFY(m_dialogs[0].save);
        QCOMPARE(m_dialogs[0].title, strSaveTitle);
        QCOMPARE(m_dialogs[0].filter, QStringLiteral("File bak (*.bak);;File bio (*.bio)"));
        QVERIFY(!m_dialogs[1].save);
        QCOMPARE(m_dialogs[1].title, strOpenTitle);
        QCOMPARE(m_dialogs[1].filter, QStringLiteral("File bio (*.bio);;File bak (*.bak)"));
        checkNothingOpen(unit);

        QCOMPARE(readAll(m_savePath), readAll(m_unitImage));
        QCOMPARE(unit.firmware(), readAll(m_release));
        QCOMPARE(unit.number("backups_completed"), 1);
        QCOMPARE(unit.number("end_block_answers"), 0);
        QCOMPARE(unit.number("erase_requests"), 1);
        QCOMPARE(unit.number("records_accepted"), 60);
        QCOMPARE(unit.number("upgrades_completed"), 1);
    }

    // Runs that complete, with the unit's faults that the procedure rides over.
    void completes_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("twentyBytes");
        QTest::addColumn<QStringList>("expected"); // report values
        QTest::addColumn<int>("erasings");          // times strErasing was shown
        QTest::addColumn<QString>("caption");       // Label2 at the end

        QTest::newRow("upgrade alone") << false << QStringList{} << false
                                       << QStringList{"read_requests=0", "erase_requests=1", "records_received=61"}
                                       << 1 << "803 byte 1%";
        QTest::newRow("20-byte image") << false << QStringList{} << true
                                       << QStringList{"records_received=1", "end_records=1", "records_accepted=0"}
                                       << 1 << "0 byte 0%";
        QTest::newRow("record answered 0x15")
            << false << QStringList{"--nak-record", "5"} << false
            << QStringList{"records_naked=1", "records_received=62"} << 1 << "803 byte 1%";
        QTest::newRow("trailer answered 0x15: restart")
            << false << QStringList{"--nak-trailer", "1"} << false
            << QStringList{"trailer_naks=1", "restarts=1", "erase_requests=2", "link_answers=2"} << 2 << "803 byte 1%";
        QTest::newRow("corrupt backup block")
            << true << QStringList{"--corrupt-block", "3"} << false
            << QStringList{"naks_received=1", "corrupt_blocks_sent=1", "backups_completed=1"} << 1 << "803 byte 1%";
        QTest::newRow("0x06 0x05 in one take") << true << QStringList{"--ack-enq-together"} << false
                                               << QStringList{"read_requests_answered=1", "backups_completed=1"}
                                               << 1 << "803 byte 1%";
        QTest::newRow("noise before the link answer")
            << false << QStringList{"--garbage", "7"} << false << QStringList{"garbage_sent=7"} << 1 << "803 byte 1%";
    }

    void completes()
    {
        QFETCH(bool, backup);
        QFETCH(QStringList, simArgs);
        QFETCH(bool, twentyBytes);
        QFETCH(QStringList, expected);
        QFETCH(int, erasings);
        QFETCH(QString, caption);

        if (twentyBytes) {
            m_imagePath = path("twenty.bio");
            QByteArray image(13, '\x5A');
            image += QByteArray(3, '\xFF');
            image += QByteArray("\x01\x02\x03\x04", 4);
            QVERIFY(writeAll(m_imagePath, image));
        }
        SimUnit unit(unitArgs(simArgs));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), backup);
        QVERIFY(atStartStep(w));
        StatusLog log(c.Text1(6));

        c.cmdStart->click();

        checkNormalEnding(w, strUpgrDone);
        QCOMPARE(c.Label2->text(), caption);
        QCOMPARE(log.texts().count(strErasing), erasings);
        QCOMPARE(log.texts().contains(strBiosSaved), backup);
        // A record the unit refused leaves strFileDamaged up to the end.
        if (log.texts().contains(strFileDamaged))
            QCOMPARE(log.after(strFileDamaged), QStringList{strUpgrDone});
        QCOMPARE(log.texts().contains(strFileDamaged), simArgs.contains("--nak-record"));
        checkNothingOpen(unit);

        if (backup)
            QCOMPARE(readAll(m_savePath), readAll(m_unitImage));
        else
            QVERIFY(!QFile::exists(m_savePath));
        QCOMPARE(unit.firmware(), readAll(m_imagePath));
        QCOMPARE(unit.number("upgrades_completed"), 1);
        for (const QString &pair : expected) {
            const QString key = pair.section('=', 0, 0);
            QCOMPARE(QString(key + "=" + unit.value(key)), pair);
        }
    }

    // A damaged image is refused before anything is sent to the unit.
    void damagedImage()
    {
        m_imagePath = path("damaged.bio");
        QVERIFY(writeAll(m_imagePath, SimUnit::image(kReleaseImage, true)));
        SimUnit unit(unitArgs({}));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), false);
        QVERIFY(atStartStep(w));

        c.cmdStart->click();

        QCOMPARE(c.Text1(6)->toPlainText(), strFileDamaged);
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrStart);
        QVERIFY(!w.MSComm1().PortOpen());
        QVERIFY(c.Label2->isHidden());
        QVERIFY(c.Image5->isHidden());
        QVERIFY(c.cmdStart->isHidden());
        QVERIFY(c.cmdOk->isHidden());
        QCOMPARE(bytMode, quint8(2));
        QVERIFY(strFerma.isEmpty());
        checkNothingOpen(unit);
        QCOMPARE(unit.firmware(), readAll(m_unitImage));
        QCOMPARE(unit.number("link_requests"), 0);
        QCOMPARE(unit.number("erase_requests"), 0);
        QCOMPARE(unit.number("records_received"), 0);
    }

    // Failures that take the error ending: back at the mode step with the
    // error's description shown, and the unit never erased.
    void errorEndings_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("inError");
        QTest::addColumn<bool>("unitLinked"); // the unit saw link requests

        QTest::newRow("truncated image") << false << "truncated" << "truncated.bio" << false;
        QTest::newRow("empty image") << false << "empty" << "empty.bio" << false;
        QTest::newRow("trailer of 2 bytes") << false << "short trailer" << "short-trailer.bio" << false;
        QTest::newRow("save dialog cancelled") << true << "cancel save" << "Cancel was selected" << false;
        QTest::newRow("open dialog cancelled") << false << "cancel open" << "Cancel was selected" << false;
        // Refused right after the save dialog: the unit is never asked for its firmware.
        QTest::newRow("unwritable save path") << true << "unwritable" << "not-a-dir" << false;
        QTest::newRow("port held by another program") << false << "port held" << "COM1" << false;
        // Made for real: nothing blocks and nothing is sent.
        QTest::newRow("image is a FIFO") << false << "fifo" << "it is a pipe" << false;
        QTest::newRow("image is a link to /dev/zero") << false << "zero" << "it is a device" << false;
    }

    void errorEndings()
    {
        QFETCH(bool, backup);
        QFETCH(QString, fault);
        QFETCH(QString, inError);
        QFETCH(bool, unitLinked);

        const QByteArray release = readAll(m_release);
        if (fault == "truncated") {
            m_imagePath = path("truncated.bio");
            QVERIFY(writeAll(m_imagePath, release.left(16 * 30 + 7)));
        } else if (fault == "empty") {
            m_imagePath = path("empty.bio");
            QVERIFY(writeAll(m_imagePath, QByteArray()));
        } else if (fault == "short trailer") {
            m_imagePath = path("short-trailer.bio");
            QVERIFY(writeAll(m_imagePath, release.left(release.size() - 2)));
        } else if (fault == "cancel save") {
            m_cancel = true;
        } else if (fault == "cancel open") {
            m_cancel = false;
        } else if (fault == "fifo") {
            m_imagePath = path("y.bio");
            QVERIFY(QFile::exists(m_imagePath) || ::mkfifo(QFile::encodeName(m_imagePath).constData(), 0600) == 0);
        } else if (fault == "zero") {
            m_imagePath = path("x.bio");
            QVERIFY(QFile::exists(m_imagePath) || QFile::link(QStringLiteral("/dev/zero"), m_imagePath));
        } else if (fault == "unwritable") {
            QVERIFY(writeAll(path("not-a-dir"), "a plain file"));
            m_savePath = path("not-a-dir/saved.bak");
        }

        SimUnit unit(unitArgs({}));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), backup);
        QVERIFY(atStartStep(w));
        StatusLog log(c.Text1(6));
        QSerialPort other;
        if (fault == "port held") {
            other.setPortName(unit.device());
            QVERIFY(other.open(QIODevice::ReadWrite));
        }

        c.cmdStart->click();
        other.close();

        checkErrorEnding(w, inError);
        QVERIFY(!log.texts().contains(strBiosSaved));
        checkNothingOpen(unit);
        if (fault == "unwritable")
            QVERIFY(!QFile::exists(m_savePath));
        // Next at the mode step leads to Start again, captioned for an upgrade.
        c.cmdOk->click();
        QVERIFY(atStartStep(w));
        QCOMPARE(c.cmdStart->text(), strStartUpgr);

        QCOMPARE(unit.firmware(), readAll(m_unitImage));
        QCOMPARE(unit.number("link_requests") > 0, unitLinked);
        QCOMPARE(unit.number("erase_requests"), 0);
        QCOMPARE(unit.number("records_received"), 0);
    }

    // A stop (Exit, or a key in the status line) in each phase ends the run
    // with strTransferBroken and the port closed.
    void stops_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("byKey");

        const QStringList linking{"--power-up-after-ms", "600000"};
        const QStringList blocks{"--silent-after-block", "5"};
        const QStringList erase{"--erase-ms", "600000"};
        const QStringList download{"--silent-after-record", "5"};
        for (bool byKey : {false, true}) {
            const char *how = byKey ? "key" : "Exit";
            QTest::addRow("%s while linking", how) << true << linking << "linking" << byKey;
            QTest::addRow("%s during backup blocks", how) << true << blocks << "blocks" << byKey;
            QTest::addRow("%s during erase", how) << false << erase << "erase" << byKey;
            QTest::addRow("%s during download", how) << false << download << "download" << byKey;
        }
    }

    void stops()
    {
        QFETCH(bool, backup);
        QFETCH(QStringList, simArgs);
        QFETCH(QString, phase);
        QFETCH(bool, byKey);

        SimUnit unit(unitArgs(simArgs));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), backup);
        QVERIFY(atStartStep(w));

        const auto inPhase = [this, phase] {
            const QString status = c.Text1(6)->toPlainText();
            const bool bar = !c.ProgressBar1->isHidden();
            if (phase == "linking")
                return status == strLinking;
            if (phase == "blocks")
                return bar && status.startsWith(strBackUpActive) && c.ProgressBar1->Value() > 0.1f;
            if (phase == "erase")
                return status == strErasing;
            return bar && status.startsWith(strUpgrActive) && c.ProgressBar1->Value() > 0.1f;
        };
        bool acted = false;
        auto trigger = when(inPhase, [&] {
            acted = true;
            if (byKey)
                QTest::keyClick(c.Text1(6), Qt::Key_Shift);
            else
                c.cmdAnnulla->click();
        });
        c.cmdStart->click();

        QVERIFY(acted);
        QVERIFY(w.isLoaded());
        checkNormalEnding(w, strTransferBroken);
        QVERIFY(c.txtError->isHidden());
        checkNothingOpen(unit);
        QVERIFY(!QFile::exists(m_savePath));
        if (phase == "blocks") // the partial working copy stays where it is
            QVERIFY(readAll(ImageFile::BackupWriter::workingFilePath()).size() > 16);
        QCOMPARE(unit.number("upgrades_completed"), 0);
        QCOMPARE(unit.number("backups_completed"), 0);
        if (phase != "download")
            QCOMPARE(unit.number("records_received"), 0);
    }

    void endSignals_data()
    {
        QTest::addColumn<int>("signo");
        QTest::addColumn<QString>("phase");
        QTest::addColumn<bool>("named"); // temporary files with names, as on a FUSE mount
        QTest::newRow("SIGTERM during the backup blocks") << SIGTERM << "blocks" << false;
        QTest::newRow("SIGTERM during the backup blocks, named temporary files") << SIGTERM << "blocks" << true;
        QTest::newRow("SIGINT while linking") << SIGINT << "linking" << false;
        QTest::newRow("SIGHUP during the download") << SIGHUP << "download" << false;
        QTest::newRow("SIGTERM at the start step") << SIGTERM << "start step" << false;
        for (const int signo : {SIGTERM, SIGINT, SIGHUP})
            QTest::addRow("signal %d to the program itself, at its start window", signo) << signo << "program" << false;
    }

    // Signals delivered for real act as Exit carried through: run stopped,
    // port closed, window closed, then the end (the program itself exits with
    // 128 + the signal). The chosen file keeps the old backup and nothing lies
    // beside it, at the moment of the signal (what kill -9 would leave) or after.
    void endSignals()
    {
        QFETCH(int, signo);
        QFETCH(QString, phase);
        QFETCH(bool, named);
        if (phase == "program") {
            QProcess program;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            program.setProcessEnvironment(env);
            program.start(QStringLiteral(K410_PROGRAM), {});
            QVERIFY(program.waitForStarted());
            const auto caught = [&] { // the system lists the signal as caught once the handler is in place
                const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(program.processId()));
                const qsizetype at = status.indexOf("SigCgt:");
                return at >= 0 && ((status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (signo - 1)) & 1);
            };
            for (int i = 0; i < 1000 && !caught() && program.state() == QProcess::Running; ++i)
                QThread::msleep(10);
            QVERIFY(caught() && ::kill(pid_t(program.processId()), signo) == 0 && program.waitForFinished());
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 128 + signo);
            return;
        }
        PlatformFile::setNamedTemporaryFiles(named);
        const auto cleanUp = qScopeGuard([] {
            EndSignals::uninstall();
            PlatformFile::setNamedTemporaryFiles(false);
        });
        QVERIFY(QDir().mkpath(path("save")));
        m_savePath = path("save/saved.bak");
        QVERIFY(writeAll(m_savePath, "OLD BACKUP"));
        const auto beside = [this] { return QDir(path("save")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden); };
        SimUnit unit(unitArgs(phase == "linking"  ? QStringList{"--power-up-after-ms", "600000"}
                              : phase == "blocks" ? QStringList{"--silent-after-block", "5"}
                                                  : QStringList{"--silent-after-record", "5"}));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), phase != "download");
        QVERIFY(atStartStep(w));
        std::optional<int> ended;
        EndSignals::install([&ended](int number) { ended = number; });
        QStringList atSignal;
        auto trigger = when(
            [this, &w, phase] {
                if (!w.isLoaded() || phase == "start step")
                    return false;
                const QString status = c.Text1(6)->toPlainText();
                const bool moving = !c.ProgressBar1->isHidden() && c.ProgressBar1->Value() > 0.1f;
                return phase == "linking" ? status == strLinking
                     : moving && status.startsWith(phase == "blocks" ? strBackUpActive : strUpgrActive);
            },
            [&] {
                atSignal = beside();
                ::kill(::getpid(), signo);
            });
        if (phase == "start step")
            ::kill(::getpid(), signo);
        else
            c.cmdStart->click();

        QVERIFY(testutil::pumpUntil([&] { return ended.has_value(); }));
        QCOMPARE(*ended, signo);
        QVERIFY(!w.isLoaded() && !w.MSComm1().PortOpen());
        QCOMPARE(unit.hostDescriptors(), 0);
        QCOMPARE(beside(), QStringList{"saved.bak"});
        QCOMPARE(readAll(m_savePath), QByteArray("OLD BACKUP"));
        QCOMPARE(atSignal, phase == "start step" ? QStringList() : QStringList{"saved.bak"});
        QCOMPARE(unit.number("upgrades_completed"), 0);
        QCOMPARE(unit.number("erase_requests"), phase == "download" ? 1 : 0);
    }

    // The unit hangs up in the middle: the lost line is reported through OnComm
    // while the bar shows, the run stops, and nothing stays open.
    void hangUp_data()
    {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QStringList>("simArgs");
        QTest::newRow("during download") << false << QStringList{"--hangup-at-record", "5"};
        QTest::newRow("during backup blocks") << true << QStringList{"--hangup-at-block", "5"};
    }

    void hangUp()
    {
        QFETCH(bool, backup);
        QFETCH(QStringList, simArgs);
        SimUnit unit(unitArgs(simArgs));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), backup);
        QVERIFY(atStartStep(w));

        c.cmdStart->click();

        QVERIFY(unit.waitForEnd());
        QVERIFY(!c.txtError->isHidden());
        QCOMPARE(c.txtError->text(), CommEvents::eventText(CommEvents::comEventDeviceLost));
        checkNormalEnding(w, strTransferBroken);
        checkNothingOpen(unit);
        QVERIFY(!QFile::exists(m_savePath));
        QCOMPARE(unit.value("end_reason"), backup ? "hangup-at-block" : "hangup-at-record");
    }

    // Line errors reported while the bar shows stop the run; line-state changes
    // and errors before the bar shows do not. (A pseudo-terminal reports no
    // line errors, so a scripted port plays the unit here.)
    void lineErrors_data()
    {
        QTest::addColumn<int>("event");
        QTest::addColumn<bool>("duringLink");
        QTest::addColumn<QString>("text"); // empty: the run completes

        QTest::newRow("framing error in download") << 1004 << false << "Framing error";
        QTest::newRow("parity error in download") << 1009 << false << "Parity Error";
        QTest::newRow("unknown event in download") << 1005 << false << "Unknown error or event";
        QTest::newRow("CTS change in download") << 3 << false << "";
        QTest::newRow("framing error while linking") << 1004 << true << "";
    }

    void lineErrors()
    {
        QFETCH(int, event);
        QFETCH(bool, duringLink);
        QFETCH(QString, text);

        auto owned = std::make_unique<FakeCommPort>();
        FakeCommPort *port = owned.get();
        frmIstruzioni &w = freshWindow(std::move(owned));
        // The scripted port has the probe's answer in as the probe is written,
        // and no descriptor to wake the pump: a short wait finds it.
        w.setProbeTiming(shortProbe());
        int records = 0;
        const auto raise = [port, event] {
            QTimer::singleShot(0, port, [port, event] { port->raiseComm(qint16(event)); });
        };
        port->responder = [&](const QByteArray &written, qint16, const QString &) -> QByteArray {
            if (written == QByteArray(1, '\x02'))
                return QByteArray(30, 'u');
            if (written == QByteArray(1, '\x05')) {
                if (duringLink)
                    raise();
                return QByteArray(1, '\x06');
            }
            if (written.size() == 16 && ++records == 3 && !duringLink)
                raise();
            return QByteArray(1, '\x06'); // "B", each record, the trailer
        };
        c.cmdOk->click();
        c.cmdCom->click();
        QCOMPARE(intComPort, qint16(1));
        c.cmdOk->click();
        c.optUpgr->click();
        c.cmdOk->click();
        answerDialogs();
        QVERIFY(atStartStep(w));

        c.cmdStart->click();

        if (text.isEmpty()) {
            checkNormalEnding(w, strUpgrDone);
            QVERIFY(c.txtError->isHidden());
            QCOMPARE(records, 61);
        } else {
            checkNormalEnding(w, strTransferBroken);
            QVERIFY(!c.txtError->isHidden());
            QCOMPARE(c.txtError->text(), text);
            QCOMPARE(records, 3);
        }
        QVERIFY(port->log.last().startsWith("Close 1"));
        // After the run the bar is hidden: a later error is not shown.
        const QString shown = c.txtError->text();
        port->raiseComm(1008);
        QCOMPARE(c.txtError->text(), shown);
        QVERIFY(strFerma.isEmpty());
    }

    // The close box during a transfer acts as Exit: the transfer stops, the
    // window stays and says so; only the next close, with the port closed,
    // closes it. The focus is on the window, so a stray key does nothing.
    void closeBoxDuringTransfer()
    {
        SimUnit unit(unitArgs({"--silent-after-record", "5"}));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        frmIstruzioni &w = toStartStep(unit.device(), false);
        QVERIFY(atStartStep(w));
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        c.cmdStart->setFocus();

        std::optional<bool> closed;
        QWidget *focus = nullptr;
        bool strayKeyStopped = true;
        auto trigger = when([this] { return c.ProgressBar1 && c.ProgressBar1->Value() > 0.05f; },
                            [&] {
                                focus = QApplication::focusWidget();
                                QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_A); // to the focus widget
                                strayKeyStopped = stopRequested();
                                closed = w.close();
                            });
        c.cmdStart->click();

        QCOMPARE(focus, static_cast<QWidget *>(&w));
        QVERIFY(!strayKeyStopped);
        QCOMPARE(closed, std::optional<bool>(false));
        QVERIFY(w.isLoaded() && w.isVisible());
        QCOMPARE(c.Text1(6)->toPlainText(), strTransferBroken);
        QVERIFY(!w.MSComm1().PortOpen());
        QVERIFY(strFerma.isEmpty());
        checkNothingOpen(unit);
        QCOMPARE(unit.number("upgrades_completed"), 0);

        QVERIFY(w.close()); // the second close, with the port closed
        QVERIFY(!w.isLoaded());
    }
};

int runTransferTests(int argc, char **argv)
{
    TestTransfer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_transfer.moc"
