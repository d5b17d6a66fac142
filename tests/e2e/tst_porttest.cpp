// The port test through the window, against simulated units on pseudo-terminals.
#include "E2e.h"

#include "FakeCommPort.h"
#include "MSComm.h"
#include "Testfile.h"
#include "Variabili.h"
#include "Wording.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Variabili;
using namespace e2e;

using Loader = void (*)();
Q_DECLARE_METATYPE(Loader)

namespace {

QStringList speeds(const QString &list)
{
    return list.split(QLatin1Char(','), Qt::SkipEmptyParts);
}

} // namespace

class TestPortTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const frmIstruzioni::Controls &c = frmIstruzioni::instance().controls();

private slots:
    void cleanup() { unloadWindow(); }

    // COM1 holds a silent unit, COM2 one that answers only at 9600 baud: every
    // setting of COM1 is tried in order, then COM2 up to 9600, where it is found.
    // The silent settings get short waits; the answer at 9600 is waited for.
    void foundAt9600OnCom2()
    {
        SimUnit silent(QStringList{"--silent"});
        SimUnit unit({"--probe-speed", "9600"});
        QVERIFY2(silent.start(), qPrintable(silent.errorText()));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        mapPorts({silent.device(), unit.device(), "", ""});

        auto port = std::make_unique<FakeCommPort>(std::make_unique<MSComm>());
        port->awaitProbeAnswer(2, 9600);
        frmIstruzioni &w = freshWindow(std::move(port));
        w.setProbeTiming(shortProbe());
        c.cmdOk->click();
        QVERIFY(!c.cmdCom->isHidden());
        c.cmdCom->click();

        QCOMPARE(intComPort, qint16(2));
        QCOMPARE(c.Text1(6)->toPlainText(), strConnected + "2");
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
        QVERIFY(!c.Image4->isHidden());
        QVERIFY(!c.cmdOk->isHidden());
        QVERIFY(!c.cmdPrec->isHidden());
        QVERIFY(c.cmdCom->isHidden());
        QVERIFY(c.FraCom->isHidden());
        QVERIFY(!w.MSComm1().PortOpen());
        QCOMPARE(unit.hostDescriptors(), 0);
        QCOMPARE(silent.hostDescriptors(), 0);

        // What the units saw on the wire: the eight speeds in order on COM1,
        // then COM2 from 110 up to 9600, answered there once.
        const QStringList all{"110", "300", "600", "1200", "2400", "4800", "9600", "19200"};
        QCOMPARE(speeds(silent.value("probe_speeds_received")), all);
        QCOMPARE(silent.number("probes_answered"), 0);
        QCOMPARE(speeds(unit.value("probe_speeds_received")), all.mid(0, 7));
        QCOMPARE(speeds(unit.value("probe_speeds_answered")), QStringList{"9600"});
    }

    // An answer that arrives after its wait ended sits in the line's buffer
    // until the port is opened again; the next open must not count it. The
    // unit answers only at 19200, and only a second after the probe, long
    // after the port test has moved on.
    void lateAnswerNotCountedAtNextOpen()
    {
        SimUnit unit({"--probe-speed", "19200", "--turnaround-us", "1000000"});
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        mapPorts({unit.device(), "", "", ""});

        frmIstruzioni &w = freshWindow();
        w.setProbeTiming(shortProbe());
        c.cmdOk->click();
        c.cmdCom->click();
        QCOMPARE(c.Text1(6)->toPlainText(), strNoPort);
        // The late answer is now waiting in the closed line's buffer.
        QTRY_COMPARE_WITH_TIMEOUT(bytesWaitingOn(unit.device()), 30, 10000);

        // Back to the port-test step and test again: 110 baud must not find the stale answer.
        c.cmdPrec->click();
        QVERIFY(!c.cmdCom->isHidden());
        c.cmdCom->click();
        QCOMPARE(c.Text1(6)->toPlainText(), strNoPort);
        QCOMPARE(intComPort, qint16(0));
        QVERIFY(!c.FraCom->isHidden());
        QVERIFY(c.optCom1->isEnabled());
        QVERIFY(!c.optCom2->isEnabled());
        // The unit answered the 19200 probe only (late, each time).
        const QStringList answered = speeds(unit.value("probe_speeds_answered"));
        QVERIFY(!answered.isEmpty());
        QCOMPARE(answered.count("19200"), answered.size());
    }

    // The unit vanishes while its port is being tested: the port is released at
    // once (no storm of read errors), the test goes on with the next port and
    // finds the unit there; the lost port's option says what happened.
    void unitKilledMidTest()
    {
        SimUnit doomed({"--probe-speed", "19200"});
        SimUnit unit({"--probe-speed", "110"});
        QVERIFY2(doomed.start(), qPrintable(doomed.errorText()));
        QVERIFY2(unit.start(), qPrintable(unit.errorText()));
        mapPorts({doomed.device(), unit.device(), "", ""});

        auto real = std::make_unique<MSComm>();
        auto *serial = real->findChild<QSerialPort *>();
        QVERIFY(serial);
        auto port = std::make_unique<FakeCommPort>(std::move(real));
        port->awaitProbeAnswer(2, 110);
        frmIstruzioni &w = freshWindow(std::move(port));
        w.setProbeTiming(shortProbe());
        c.cmdOk->click();
        int readErrors = 0;
        bool killed = false;
        const auto counter = connect(serial, &QSerialPort::errorOccurred, this, [&](QSerialPort::SerialPortError e) {
            if (killed && (e == QSerialPort::ReadError || e == QSerialPort::ResourceError))
                ++readErrors;
        });
        const QString waitingAt600 = QStringLiteral("Test com 1 Setting 600,N,8,1");
        auto trigger = when([&] { return c.Text1(6)->toPlainText() == waitingAt600; },
                            [&] {
                                doomed.stop(); // its end of the line vanishes
                                killed = true;
                            });
        c.cmdCom->click();
        disconnect(counter);

        QVERIFY(killed);
        QVERIFY2(readErrors < 10, qPrintable(QString::number(readErrors)));
        QCOMPARE(intComPort, qint16(2));
        QCOMPARE(c.Text1(6)->toPlainText(), strConnected + "2");
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
        QVERIFY(!w.MSComm1().PortOpen());
        QVERIFY(c.optCom1->toolTip().contains("Not available"));
        QCOMPARE(unit.number("probes_answered"), 1);
    }

    void portTooltips_data()
    {
        QTest::addColumn<Loader>("loader");
        QTest::addColumn<int>("language");      // Texts::Language
        QTest::addColumn<QString>("noDevice");  // said of a port number without a device
        QTest::addColumn<QStringList>("notAvailable"); // per port; empty: available
        const QStringList english{"Not available: held by another program", "", "Not available: absent",
                                  "Not available: absent"};
        QTest::newRow("English") << Loader(&Testfile::LoadEnglish) << int(Texts::Language::English)
                                 << "no serial device" << english;
        QTest::newRow("German") << Loader(&Testfile::LoadGerman) << int(Texts::Language::German)
                                << "kein serielles Gerät"
                                << QStringList{"Nicht verfügbar: von einem anderen Programm belegt", "",
                                               "Nicht verfügbar: nicht vorhanden", "Nicht verfügbar: nicht vorhanden"};
        QTest::newRow("French") << Loader(&Testfile::LoadFrench) << int(Texts::Language::French)
                                << "aucun périphérique série"
                                << QStringList{"Non disponible : occupé par un autre programme", "",
                                               "Non disponible : absent", "Non disponible : absent"};
        QTest::newRow("Italian") << Loader(&Testfile::LoadItalian) << int(Texts::Language::Italian)
                                 << "nessun dispositivo seriale"
                                 << QStringList{"Non disponibile: occupata da un altro programma", "",
                                                "Non disponibile: assente", "Non disponibile: assente"};
    }

    // Each option's tooltip names its port's device; an option whose port
    // could not be opened also says why, and stays disabled. All of it in the
    // language chosen, but for the devices and the system's own words.
    void portTooltips()
    {
        QFETCH(Loader, loader);
        QFETCH(int, language);
        QFETCH(QString, noDevice);
        QFETCH(QStringList, notAvailable);
        SimUnit held(QStringList{"--silent"});
        SimUnit silent(QStringList{"--silent"});
        QVERIFY2(held.start(), qPrintable(held.errorText()));
        QVERIFY2(silent.start(), qPrintable(silent.errorText()));
        const QString missing = m_dir.filePath("no-such-device");
        mapPorts({held.device(), silent.device(), "", missing});

        QSerialPort other;
        other.setPortName(held.device());
        QVERIFY(other.open(QIODevice::ReadWrite)); // another program holds COM1

        frmIstruzioni &w = freshWindow(nullptr, loader);
        w.setProbeTiming({std::chrono::milliseconds(30), 0.01});
        c.cmdOk->click();
        c.cmdCom->click();
        other.close();

        QCOMPARE(c.Text1(6)->toPlainText(), strNoPort);
        QVERIFY(!c.FraCom->isHidden());
        QCOMPARE(c.FraCom->title(), strFraCom);
        const bool enabled[] = {false, true, false, false};
        const QString devices[] = {held.device(), silent.device(), QString(), missing};
        for (int port = 1; port <= 4; ++port) {
            const QString tip = c.optCom(port)->toolTip();
            QCOMPARE(c.optCom(port)->isEnabled(), enabled[port - 1]);
            QVERIFY2(tip.startsWith(QStringLiteral("COM%1").arg(port)), qPrintable(tip));
            if (!devices[port - 1].isEmpty())
                QVERIFY2(tip.contains(devices[port - 1]), qPrintable(tip));
            else
                QVERIFY2(tip.contains(noDevice), qPrintable(tip));
            const QString why = notAvailable[port - 1];
            QVERIFY2(why.isEmpty() ? tip.count('\n') == 0 : tip.section('\n', 1, 1) == why, qPrintable(tip));
            if (language != int(Texts::Language::English)) {
                const QStringList left = wording::englishLeft(wording::withoutSystemMessages(tip),
                                                              Texts::Language(language), {devices[port - 1]});
                QVERIFY2(left.isEmpty(), qPrintable(left.join(' ') + ": " + tip));
            }
        }

        // Choosing the one port that could be opened leads on to the power-off step.
        c.optCom2->click();
        QCOMPARE(intComPort, qint16(2));
        QCOMPARE(c.Text1(6)->toPlainText(), strConnected + "2");
        c.cmdOk->click();
        QCOMPARE(c.Text1(0)->toPlainText(), strIstrPowerOff);
    }

    // Exit while a port is being probed stops the test at its next check point;
    // the port is closed and the button can start it again.
    void exitDuringTest()
    {
        SimUnit silent(QStringList{"--silent"});
        QVERIFY2(silent.start(), qPrintable(silent.errorText()));
        mapPorts({silent.device(), "", "", ""});

        frmIstruzioni &w = freshWindow();
        w.setProbeTiming(shortProbe());
        c.cmdOk->click();
        auto trigger = when([&] { return c.Text1(6)->toPlainText().endsWith("300,N,8,1"); },
                            [&] { c.cmdAnnulla->click(); });
        c.cmdCom->click();

        QVERIFY(w.isLoaded());
        QVERIFY(strFerma.isEmpty());
        QVERIFY(!w.MSComm1().PortOpen());
        QCOMPARE(silent.hostDescriptors(), 0);
        QVERIFY(c.cmdCom->isEnabled());
        QVERIFY(!c.cmdCom->isHidden());
        QVERIFY(c.FraCom->isHidden());
        QCOMPARE(c.Text1(6)->toPlainText(), QStringLiteral("Test com 1 Setting 300,N,8,1"));
        QCOMPARE(speeds(silent.value("probe_speeds_received")), (QStringList{"110", "300"}));
    }
};

int runPortTestTests(int argc, char **argv)
{
    TestPortTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_porttest.moc"
