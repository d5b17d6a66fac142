// The port test's algorithm over a scripted control, a pump that never sleeps
// and a view that records what the window would show.
#include "SerialFakes.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QTest>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using Kind = ScriptedPort::Kind;

namespace {

QString status(int port, int setting)
{
    return QStringLiteral("Test com %1 Setting %2").arg(port).arg(QLatin1String(kProbeSettings[setting]));
}

QStringList allSettings(int port)
{
    QStringList texts;
    for (int s = 0; s < kProbeSettingCount; ++s)
        texts << status(port, s);
    return texts;
}

QStringList filtered(const QStringList &log, const QString &prefix)
{
    QStringList out;
    for (const QString &line : log) {
        if (line.startsWith(prefix))
            out << line;
    }
    return out;
}

} // namespace

class TestPortTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Testfile::LoadEnglish(); }
    void init()
    {
        Variabili::strFerma.clear();
        Variabili::intComPort = 0;
    }

    void noPortCanBeOpened();
    void portsHeldOrForbidden();
    void onlyPort3Openable();
    void answerAtSetting_data();
    void answerAtSetting();
    void answerMustBeExactly30_data();
    void answerMustBeExactly30();
    void lowerPortWins();
    void stopPendingBeforeClick();
    void stopDuringWait_data();
    void stopDuringWait();
    void lostDeviceDoesNotBlockNextPorts();
    void probeWaitSizing();
};

void TestPortTest::noPortCanBeOpened()
{
    ScriptedPort port;
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::NoPort);

    QCOMPARE(view.statusTexts(), (QStringList{status(1, 0), status(2, 0), status(3, 0), status(4, 0), Variabili::strNoPort}));
    QCOMPARE(view.calls.first(), QStringLiteral("cmdCom.Enabled=false"));
    QCOMPARE(view.callsFrom(QStringLiteral("Text1(6).Text=") + Variabili::strNoPort),
             (QStringList{QStringLiteral("Text1(6).Text=") + Variabili::strNoPort, "cmdCom.Visible=false",
                          "cmdPrec.Visible=true", QStringLiteral("FraCom.Caption=") + Variabili::strFraCom,
                          "FraCom.Visible=true"}));
    QVERIFY(!view.calls.contains(QStringLiteral("cmdOk.Visible=true")));
    QCOMPARE(view.unavailable, (QStringList{"1 Absent", "2 Absent", "3 Absent", "4 Absent"}));
    QCOMPARE(pump.passes, 0);
    QCOMPARE(Variabili::intComPort, qint16(0));
}

void TestPortTest::portsHeldOrForbidden()
{
    ScriptedPort port;
    port.ports[1].kind = Kind::InUse;
    port.ports[2].kind = Kind::Denied;
    port.ports[4].kind = Kind::Present;
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::NoPort);
    QCOMPARE(view.unavailable, (QStringList{"1 InUse", "2 PermissionDenied", "3 Absent"}));
    QCOMPARE(filtered(view.calls, QStringLiteral("optCom")), QStringList{"optCom4.Enabled=true"});
    QCOMPARE(filtered(port.log, QStringLiteral("Open")).size(), kProbeSettingCount);
}

void TestPortTest::onlyPort3Openable()
{
    ScriptedPort port;
    port.ports[3].kind = Kind::Present;
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::NoPort);

    QStringList expected{status(1, 0), status(2, 0)};
    expected << allSettings(3) << status(4, 0) << Variabili::strNoPort;
    QCOMPARE(view.statusTexts(), expected);
    QCOMPARE(filtered(view.calls, QStringLiteral("optCom")), QStringList{"optCom3.Enabled=true"});
    // The status line is made visible at the first setting of each port tried.
    QCOMPARE(view.calls.count(QStringLiteral("Text1(6).Visible=true")), 4);

    // Every setting on a fresh port: open, probe, full wait, close.
    QCOMPARE(port.probes.size(), kProbeSettingCount);
    for (const auto &probe : port.probes) {
        QCOMPARE(probe.port, 3);
        QCOMPARE(probe.passes, kProbePasses);
    }
    QStringList openClose = port.log;
    openClose.removeIf([](const QString &l) { return !l.startsWith(QLatin1String("Open")) && !l.startsWith(QLatin1String("Close")); });
    QStringList expectedOpenClose;
    for (int s = 0; s < kProbeSettingCount; ++s)
        expectedOpenClose << QStringLiteral("Open 3 %1").arg(QLatin1String(kProbeSettings[s])) << "Close 3";
    QCOMPARE(openClose, expectedOpenClose);
    QCOMPARE(filtered(port.log, QStringLiteral("Output")).first(), QStringLiteral("Output 02"));
    QVERIFY(!port.open);
}

void TestPortTest::answerAtSetting_data()
{
    QTest::addColumn<int>("setting");
    for (int s = 0; s < kProbeSettingCount; ++s)
        QTest::newRow(kProbeSettings[s]) << s;
}

void TestPortTest::answerAtSetting()
{
    QFETCH(int, setting);
    ScriptedPort port;
    port.ports[1].kind = Kind::Present; // silent
    port.ports[2].kind = Kind::Present;
    port.ports[2].answerAt = setting;
    port.ports[3].kind = Kind::Present;
    port.ports[3].answerAt = 0; // would answer too, but is never reached
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::Found);

    QCOMPARE(Variabili::intComPort, qint16(2));
    QStringList expected = allSettings(1);
    for (int s = 0; s <= setting; ++s)
        expected << status(2, s);
    expected << Variabili::strConnected + QStringLiteral("2");
    QCOMPARE(view.statusTexts(), expected);

    // The answering wait ends at once on the 30 bytes.
    QCOMPARE(port.probes.size(), kProbeSettingCount + setting + 1);
    QCOMPARE(port.probes.last().passes, port.ports[2].answerAfterPasses);
    QVERIFY(port.log.contains(QStringLiteral("Input 30")));
    QVERIFY(!port.log.contains(QStringLiteral("CommPort=3")));
    QVERIFY(!port.open);
    QCOMPARE(port.log.last(), QStringLiteral("Close 2"));

    QCOMPARE(view.callsFrom(QStringLiteral("Text1(6).Text=") + Variabili::strConnected),
             (QStringList{QStringLiteral("Text1(6).Text=") + Variabili::strConnected + QStringLiteral("2"),
                          "FraCom.Visible=false", "cmdCom.Visible=false", "cmdOk.Visible=true",
                          "cmdPrec.Visible=true", "Image4.Visible=true",
                          QStringLiteral("Text1(0).Text=") + Variabili::strIstrPowerOff}));
    QVERIFY(!view.calls.contains(QStringLiteral("cmdCom.Enabled=true")));
}

void TestPortTest::answerMustBeExactly30_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("29") << 29;
    QTest::newRow("31") << 31;
    QTest::newRow("60") << 60;
}

void TestPortTest::answerMustBeExactly30()
{
    QFETCH(int, length);
    ScriptedPort port;
    port.ports[1].kind = Kind::Present;
    port.ports[1].answerAt = 2;
    port.ports[1].answerLength = length;
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::NoPort);
    QCOMPARE(port.probes.size(), kProbeSettingCount); // the next settings are still tried
    QCOMPARE(port.probes.at(2).passes, kProbePasses); // the wait runs to its last pass
    QVERIFY(!port.log.contains(QStringLiteral("Input %1").arg(length)));
}

void TestPortTest::lowerPortWins()
{
    ScriptedPort port;
    for (int p : {2, 3}) {
        port.ports[p].kind = Kind::Present;
        port.ports[p].answerAt = 0;
    }
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::Found);
    QCOMPARE(Variabili::intComPort, qint16(2));
    QCOMPARE(filtered(port.log, QStringLiteral("CommPort=")), (QStringList{"CommPort=1", "CommPort=2"}));
}

void TestPortTest::stopPendingBeforeClick()
{
    ScriptedPort port;
    port.ports[1].kind = Kind::Present;
    port.ports[1].answerAt = 0;
    Variabili::strFerma = QStringLiteral("ferma");
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::Stopped);
    QCOMPARE(port.log, QStringList{"CommPort=1"});
    QCOMPARE(view.calls, (QStringList{"cmdCom.Enabled=false", "cmdCom.Enabled=true"}));
    QCOMPARE(Variabili::strFerma, QString());
    QCOMPARE(port.opens, 0);
}

void TestPortTest::stopDuringWait_data()
{
    QTest::addColumn<int>("answeringPort");  // answers at setting 0 after 5 passes; 0 = none
    QTest::addColumn<int>("stopProbe");      // 1-based probe during whose wait the stop comes
    QTest::addColumn<QStringList>("logTail");
    QTest::addColumn<int>("probes");
    QTest::newRow("first wait of port 1")
        << 0 << 1 << QStringList{"Output 02", "Close 1"} << 1;
    QTest::newRow("last setting of port 1: stops after selecting port 2")
        << 0 << 8 << QStringList{"Output 02", "Close 1", "CommPort=2"} << 8;
    QTest::newRow("last setting of port 4: stop wins over no port")
        << 0 << 32 << QStringList{"Output 02", "Close 4"} << 32;
    QTest::newRow("wait that ends with an answer: stop wins")
        << 1 << 1 << QStringList{"Output 02", "Input 30", "Close 1"} << 1;
}

void TestPortTest::stopDuringWait()
{
    QFETCH(int, answeringPort);
    QFETCH(int, stopProbe);
    QFETCH(QStringList, logTail);
    QFETCH(int, probes);
    ScriptedPort port;
    for (int p = 1; p <= 4; ++p)
        port.ports[p].kind = Kind::Present;
    if (answeringPort)
        port.ports[answeringPort].answerAt = 0;
    CountingPump pump(port);
    pump.onPass = [&port, stopProbe](int) {
        if (port.probes.size() == stopProbe && port.probes.last().passes == 2)
            Variabili::strFerma = QStringLiteral("ferma"); // a key press in the status line
    };
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::Stopped);

    QCOMPARE(port.probes.size(), probes);
    if (!answeringPort)
        QCOMPARE(port.probes.last().passes, kProbePasses); // the wait is not cut short
    QCOMPARE(port.log.mid(port.log.size() - logTail.size()), logTail);
    QVERIFY(!port.open);
    QCOMPARE(Variabili::strFerma, QString());
    QCOMPARE(Variabili::intComPort, qint16(0));
    QCOMPARE(view.calls.last(), QStringLiteral("cmdCom.Enabled=true"));
    QVERIFY(!view.statusTexts().contains(Variabili::strNoPort));
    QVERIFY(filtered(view.calls, QStringLiteral("optCom")).isEmpty());
    QVERIFY(!view.calls.contains(QStringLiteral("cmdCom.Visible=false")));
}

void TestPortTest::lostDeviceDoesNotBlockNextPorts()
{
    ScriptedPort port;
    port.ports[1].kind = Kind::Present;
    port.ports[1].loseAt = 1; // unplugged during the 300 baud wait
    port.ports[2].kind = Kind::Present;
    port.ports[2].answerAt = 3;
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::Found);
    QCOMPARE(Variabili::intComPort, qint16(2));
    QCOMPARE(view.unavailable, QStringList{"1 Other"});
    // The lost port is closed before the next port is selected.
    const qsizetype close1 = port.log.indexOf(QStringLiteral("Close 1"), port.log.indexOf(QStringLiteral("Open 1 300,N,8,1")));
    QVERIFY(close1 > 0);
    QCOMPARE(port.log.at(close1 + 1), QStringLiteral("CommPort=2"));
}

void TestPortTest::probeWaitSizing()
{
    // Line time of 32 characters of 10 bits, plus the 0.1 s margin.
    QCOMPARE(probeWaitTotal(110), std::chrono::nanoseconds(2909090909 + 100000000));
    QCOMPARE(probeWaitTotal(19200), std::chrono::nanoseconds(16666667 + 100000000));
    QCOMPARE(probeWaitTotal(9600, ProbeTiming{5ms, 0.5}), std::chrono::nanoseconds(16666667 + 5000000));

    // The passes of each wait are spread over exactly that duration.
    ScriptedPort port;
    port.ports[1].kind = Kind::Present;
    CountingPump pump(port);
    RecordingView view;
    QCOMPARE(runPortTest(port, pump, view), PortTestEnding::NoPort);
    QCOMPARE(port.probes.size(), kProbeSettingCount);
    std::chrono::nanoseconds scan{0};
    for (int s = 0; s < kProbeSettingCount; ++s) {
        const auto &probe = port.probes.at(s);
        const auto total = probeWaitTotal(LineSettings::parse(QLatin1String(kProbeSettings[s])).baud);
        const auto spread = std::chrono::duration_cast<std::chrono::nanoseconds>(probe.lastDeadline - probe.firstDeadline);
        QVERIFY2(qAbs((spread - (total - total / kProbePasses)).count()) <= 2,
                 qPrintable(QStringLiteral("setting %1: spread %2 ns").arg(s).arg(spread.count())));
        QVERIFY(probe.firstDeadline >= probe.sentAt + total / kProbePasses);
        scan += total;
    }
    // A silent scan of four ports lasts about 20 s.
    QVERIFY(scan * 4 > 20s && scan * 4 < 25s);
}

void addPortTestSuites(std::vector<std::unique_ptr<QObject>> &suites)
{
    suites.push_back(std::make_unique<TestPortTest>());
}

#include "tst_porttest.moc"
