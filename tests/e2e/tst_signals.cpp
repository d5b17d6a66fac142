// SIGTERM, SIGINT and SIGHUP, delivered for real: to this process while the
// window runs a transfer against a simulated unit, and to the program itself.
#include "E2e.h"

#include "DlgOpen.h"
#include "EndSignals.h"
#include "PlatformFile.h"
#include "ProgressBar.h"
#include "Variabili.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <optional>
#include <unistd.h>

using namespace Variabili;
using namespace e2e;

class TestEndSignals : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QStringList saved() const
    {
        return QDir(m_dir.filePath(QStringLiteral("save"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

private slots:
    void initTestCase()
    {
        qputenv("K410_WORKDIR", QFile::encodeName(m_dir.filePath(QStringLiteral("work"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("save"))));
        QVERIFY(writeAll(m_dir.filePath(QStringLiteral("new.bio")), SimUnit::image({"--records", "60", "--seed", "22"})));
    }
    void cleanup()
    {
        EndSignals::uninstall();
        PlatformFile::setNamedTemporaryFiles(false);
        unloadWindow();
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
    }

    // Exit carried through: run stopped, port closed, window closed, then the
    // end. The chosen file keeps the old backup and nothing lies beside it,
    // at the moment of the signal (what kill -9 would leave) or afterwards.
    void endSignals()
    {
        QFETCH(int, signo);
        QFETCH(QString, phase);
        QFETCH(bool, named);
        PlatformFile::setNamedTemporaryFiles(named);
        const QString chosen = m_dir.filePath(QStringLiteral("save/saved.bak"));
        QVERIFY(writeAll(chosen, "OLD BACKUP"));
        const QStringList slow = phase == "linking"  ? QStringList{"--power-up-after-ms", "600000"}
                                 : phase == "blocks" ? QStringList{"--silent-after-block", "5"}
                                                     : QStringList{"--silent-after-record", "5"};
        SimUnit unit(QStringList{"--probe-speed", "110", "--erase-ms", "20", "--records", "60", "--seed", "11"} + slow);
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        mapPorts({unit.device(), "", "", ""});
        frmIstruzioni &w = freshWindow();
        walkToStart(w, phase != "download");
        QVERIFY(atStartStep(w));
        DlgOpen::setAnswerer([this, chosen](bool save, const QString &, const QString &, const QString &) {
            return std::optional<QString>(save ? chosen : m_dir.filePath(QStringLiteral("new.bio")));
        });
        std::optional<int> ended;
        EndSignals::install([&ended](int number) { ended = number; });

        QStringList atSignal;
        auto trigger = when(
            [&w, phase] {
                if (!w.isLoaded() || phase == "start step")
                    return false;
                const QString status = w.Text1(6)->toPlainText();
                const bool moving = !w.ProgressBar1->isHidden() && w.ProgressBar1->Value() > 0.1f;
                return phase == "linking" ? status == strLinking
                     : moving && status.startsWith(phase == "blocks" ? strBackUpActive : strUpgrActive);
            },
            [&] {
                atSignal = saved();
                ::kill(::getpid(), signo);
            });
        if (phase == "start step")
            ::kill(::getpid(), signo);
        else
            w.cmdStart->click();

        QVERIFY(testutil::pumpUntil([&] { return ended.has_value(); }));
        QCOMPARE(*ended, signo);
        QVERIFY(!w.isLoaded() && !w.MSComm1->PortOpen());
        QCOMPARE(unit.hostDescriptors(), 0);
        QCOMPARE(saved(), QStringList{"saved.bak"});
        QCOMPARE(readAll(chosen), QByteArray("OLD BACKUP"));
        QCOMPARE(atSignal, phase == "start step" ? QStringList() : QStringList{"saved.bak"});
        QCOMPARE(unit.number("upgrades_completed"), 0);
        QCOMPARE(unit.number("erase_requests"), phase == "download" ? 1 : 0);
    }

    // The program itself, at its start window, ends as a shell expects of a
    // program that a signal ended: exit status 128 + the signal's number.
    void theProgramItself()
    {
        for (const int signo : {SIGTERM, SIGINT, SIGHUP}) {
            QProcess program;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            program.setProcessEnvironment(env);
            program.start(QStringLiteral(K410_PROGRAM), {});
            QVERIFY(program.waitForStarted());
            // Its handler is in place once the system lists the signal as caught.
            const auto caught = [&] {
                const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(program.processId()));
                const qsizetype at = status.indexOf("SigCgt:");
                return at >= 0 && ((status.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) >> (signo - 1)) & 1);
            };
            for (int i = 0; i < 1000 && !caught() && program.state() == QProcess::Running; ++i)
                QThread::msleep(10);
            QVERIFY(caught() && ::kill(pid_t(program.processId()), signo) == 0);
            QVERIFY(program.waitForFinished());
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 128 + signo);
        }
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestEndSignals suite;
    const int failures = QTest::qExec(&suite, argc, argv);
    e2e::unloadWindow();
    return failures;
}

#include "tst_signals.moc"
