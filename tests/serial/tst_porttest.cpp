// The port test's algorithm over the fake control, with a scripted unit on
// each port that has one, a pump that never sleeps and a view that records
// what the window would show.
#include "FakeCommPort.h"
#include "FakePump.h"
#include "FakeViews.h"
#include "LineSettings.h"
#include "ScriptedUnit.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QTest>
#include <array>
#include <memory>
#include <vector>

using namespace std::chrono_literals;

namespace {

QStringList filtered(const QStringList &log, const QString &prefix)
{
    QStringList out;
    for (const QString &line : log) {
        if (line.startsWith(prefix))
            out << line;
    }
    return out;
}

int settingIndex(const QString &settings)
{
    for (int i = 0; i < kProbeSettingCount; ++i) {
        if (settings == QLatin1String(kProbeSettings[i]))
            return i;
    }
    return -1;
}

/// COM1 to COM4, each absent (as made), held, forbidden or with a unit on its
/// line; every probe sent is recorded with the passes of its wait.
struct Ports
{
    enum class Kind { Absent, InUse, Denied, Present };
    /// One probe sent, with the passes of its wait.
    struct Probe
    {
        int port = 0;
        int setting = -1;
        int passes = 0;
        EventPump::Clock::time_point sentAt, firstDeadline, lastDeadline;
    };

    FakeCommPort port;
    FakePump pump{port};
    RecordingView view;
    std::array<ScriptedUnit, 5> units; // index 1..4
    QList<Probe> probes;
    /// The device of a port goes away 10 passes into the wait at this setting (-1: never).
    std::array<int, 5> loseAt{-1, -1, -1, -1, -1};
    /// Runs on every pass, like a window event would (after the probe's pass count moved).
    std::function<void()> onPass;

    Ports()
    {
        for (qint16 p = 1; p <= 4; ++p) {
            port.failOpen(p);
            port.plug(p, units[p]);
        }
        port.responder = [this](const QByteArray &written, qint16 p, const QString &settings) {
            if (written == QByteArray(1, kProbeByte))
                probes.append(Probe{p, settingIndex(settings), 0, EventPump::Clock::now(), {}, {}});
            return QByteArray();
        };
        pump.onPass = [this] {
            if (port.open && !probes.isEmpty()) {
                Probe &probe = probes.last();
                if (++probe.passes == 1)
                    probe.firstDeadline = pump.deadline;
                probe.lastDeadline = pump.deadline;
                if (loseAt[port.port] == probe.setting && probe.passes == 10)
                    port.loseDevice();
            }
            if (onPass)
                onPass();
        };
    }
    void set(int p, Kind kind)
    {
        const int errors[] = {kErrInvalidPortNumber, kErrPortAlreadyOpen, kErrPermissionDenied, 0};
        port.failOpen(qint16(p), errors[int(kind)]);
    }
    /// A unit on port `p` that answers the probe at setting `answerAt` (-1: never).
    void unit(int p, int answerAt = -1)
    {
        set(p, Kind::Present);
        units[p].probeSetting = answerAt < 0 ? QString() : QLatin1String(kProbeSettings[answerAt]);
    }
    PortTestEnding run() { return runPortTest(port, pump, view); }
};
using Kind = Ports::Kind;

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
    Ports s;
    QCOMPARE(s.run(), PortTestEnding::NoPort);

    QCOMPARE(s.view.statusTexts(), (QStringList{probingText(1, 0), probingText(2, 0), probingText(3, 0), probingText(4, 0), Variabili::strNoPort}));
    QCOMPARE(s.view.calls.first(), QStringLiteral("cmdCom.Enabled=false"));
    QCOMPARE(s.view.callsFrom(QStringLiteral("Text1(6).Text=") + Variabili::strNoPort),
             (QStringList{QStringLiteral("Text1(6).Text=") + Variabili::strNoPort, "cmdCom.Visible=false",
                          "cmdPrec.Visible=true", QStringLiteral("FraCom.Caption=") + Variabili::strFraCom,
                          "FraCom.Visible=true"}));
    QVERIFY(!s.view.calls.contains(QStringLiteral("cmdOk.Visible=true")));
    QCOMPARE(s.view.unavailable, (QStringList{"1 Absent", "2 Absent", "3 Absent", "4 Absent"}));
    QCOMPARE(s.pump.passes, qint64(0));
    QCOMPARE(Variabili::intComPort, qint16(0));
}

void TestPortTest::portsHeldOrForbidden()
{
    Ports s;
    s.set(1, Kind::InUse);
    s.set(2, Kind::Denied);
    s.unit(4);
    QCOMPARE(s.run(), PortTestEnding::NoPort);
    QCOMPARE(s.view.unavailable, (QStringList{"1 InUse", "2 PermissionDenied", "3 Absent"}));
    QCOMPARE(filtered(s.view.calls, QStringLiteral("optCom")), QStringList{"optCom4.Enabled=true"});
    QCOMPARE(filtered(s.port.log, QStringLiteral("Open")).size(), kProbeSettingCount);
}

void TestPortTest::onlyPort3Openable()
{
    Ports s;
    s.unit(3);
    QCOMPARE(s.run(), PortTestEnding::NoPort);

    QStringList expected{probingText(1, 0), probingText(2, 0)};
    expected << probingTexts(3) << probingText(4, 0) << Variabili::strNoPort;
    QCOMPARE(s.view.statusTexts(), expected);
    QCOMPARE(filtered(s.view.calls, QStringLiteral("optCom")), QStringList{"optCom3.Enabled=true"});
    // The status line is made visible at the first setting of each port tried.
    QCOMPARE(s.view.calls.count(QStringLiteral("Text1(6).Visible=true")), 4);

    // Every setting on a fresh port: open, probe, full wait, close.
    QCOMPARE(s.probes.size(), kProbeSettingCount);
    for (const auto &probe : s.probes) {
        QCOMPARE(probe.port, 3);
        QCOMPARE(probe.passes, kProbePasses);
    }
    QStringList openClose = s.port.log;
    openClose.removeIf([](const QString &l) { return !l.startsWith(QLatin1String("Open")) && !l.startsWith(QLatin1String("Close")); });
    QStringList expectedOpenClose;
    for (int i = 0; i < kProbeSettingCount; ++i)
        expectedOpenClose << QStringLiteral("Open 3 %1").arg(QLatin1String(kProbeSettings[i])) << "Close 3";
    QCOMPARE(openClose, expectedOpenClose);
    QCOMPARE(filtered(s.port.log, QStringLiteral("Output")).first(), QStringLiteral("Output 02"));
    QVERIFY(!s.port.open);
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
    Ports s;
    s.unit(1); // silent
    s.unit(2, setting);
    s.unit(3, 0); // would answer too, but is never reached
    QCOMPARE(s.run(), PortTestEnding::Found);

    QCOMPARE(Variabili::intComPort, qint16(2));
    QStringList expected = probingTexts(1) + probingTexts(2, setting + 1);
    expected << Variabili::strConnected + QStringLiteral("2");
    QCOMPARE(s.view.statusTexts(), expected);

    // The answering wait ends at once on the 30 bytes.
    QCOMPARE(s.probes.size(), kProbeSettingCount + setting + 1);
    QCOMPARE(s.probes.last().passes, s.units[2].probeAnswerPasses);
    QVERIFY(s.port.log.contains(QStringLiteral("Input 30")));
    QVERIFY(!s.port.log.contains(QStringLiteral("CommPort=3")));
    QVERIFY(!s.port.open);
    QCOMPARE(s.port.log.last(), QStringLiteral("Close 2"));

    QCOMPARE(s.view.callsFrom(QStringLiteral("Text1(6).Text=") + Variabili::strConnected),
             (QStringList{QStringLiteral("Text1(6).Text=") + Variabili::strConnected + QStringLiteral("2"),
                          "FraCom.Visible=false", "cmdCom.Visible=false", "cmdOk.Visible=true",
                          "cmdPrec.Visible=true", "Image4.Visible=true",
                          QStringLiteral("Text1(0).Text=") + Variabili::strIstrPowerOff}));
    QVERIFY(!s.view.calls.contains(QStringLiteral("cmdCom.Enabled=true")));
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
    Ports s;
    s.unit(1, 2);
    s.units[1].probeAnswer = {length};
    QCOMPARE(s.run(), PortTestEnding::NoPort);
    QCOMPARE(s.probes.size(), kProbeSettingCount); // the next settings are still tried
    QCOMPARE(s.probes.at(2).passes, kProbePasses); // the wait runs to its last pass
    QVERIFY(!s.port.log.contains(QStringLiteral("Input %1").arg(length)));
}

void TestPortTest::lowerPortWins()
{
    Ports s;
    for (int p : {2, 3})
        s.unit(p, 0);
    QCOMPARE(s.run(), PortTestEnding::Found);
    QCOMPARE(Variabili::intComPort, qint16(2));
    QCOMPARE(filtered(s.port.log, QStringLiteral("CommPort=")), (QStringList{"CommPort=1", "CommPort=2"}));
}

void TestPortTest::stopPendingBeforeClick()
{
    Ports s;
    s.unit(1, 0);
    Variabili::strFerma = QStringLiteral("ferma");
    QCOMPARE(s.run(), PortTestEnding::Stopped);
    QCOMPARE(s.port.log, QStringList{"CommPort=1"});
    QCOMPARE(s.view.calls, (QStringList{"cmdCom.Enabled=false", "cmdCom.Enabled=true"}));
    QCOMPARE(Variabili::strFerma, QString());
    QCOMPARE(s.port.opens, 0);
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
    Ports s;
    for (int p = 1; p <= 4; ++p)
        s.unit(p, p == answeringPort ? 0 : -1);
    s.onPass = [&s, stopProbe] {
        if (s.probes.size() == stopProbe && s.probes.last().passes == 2)
            Variabili::strFerma = QStringLiteral("ferma"); // a key press in the status line
    };
    QCOMPARE(s.run(), PortTestEnding::Stopped);

    QCOMPARE(s.probes.size(), probes);
    if (!answeringPort)
        QCOMPARE(s.probes.last().passes, kProbePasses); // the wait is not cut short
    QCOMPARE(s.port.log.mid(s.port.log.size() - logTail.size()), logTail);
    QVERIFY(!s.port.open);
    QCOMPARE(Variabili::strFerma, QString());
    QCOMPARE(Variabili::intComPort, qint16(0));
    QCOMPARE(s.view.calls.last(), QStringLiteral("cmdCom.Enabled=true"));
    QVERIFY(!s.view.statusTexts().contains(Variabili::strNoPort));
    QVERIFY(filtered(s.view.calls, QStringLiteral("optCom")).isEmpty());
    QVERIFY(!s.view.calls.contains(QStringLiteral("cmdCom.Visible=false")));
}

void TestPortTest::lostDeviceDoesNotBlockNextPorts()
{
    Ports s;
    s.unit(1);
    s.loseAt[1] = 1; // unplugged during the 300 baud wait
    s.unit(2, 3);
    QCOMPARE(s.run(), PortTestEnding::Found);
    QCOMPARE(Variabili::intComPort, qint16(2));
    QCOMPARE(s.view.unavailable, QStringList{"1 Other"});
    // The lost port is closed before the next port is selected.
    const qsizetype close1 = s.port.log.indexOf(QStringLiteral("Close 1"), s.port.log.indexOf(QStringLiteral("Open 1 300,N,8,1")));
    QVERIFY(close1 > 0);
    QCOMPARE(s.port.log.at(close1 + 1), QStringLiteral("CommPort=2"));
}

void TestPortTest::probeWaitSizing()
{
    // Line time of 32 characters of 10 bits, plus the 0.1 s margin.
    QCOMPARE(probeWaitTotal(110), std::chrono::nanoseconds(2909090909 + 100000000));
    QCOMPARE(probeWaitTotal(19200), std::chrono::nanoseconds(16666667 + 100000000));
    QCOMPARE(probeWaitTotal(9600, ProbeTiming{5ms, 0.5}), std::chrono::nanoseconds(16666667 + 5000000));

    // The passes of each wait are spread over exactly that duration.
    Ports s;
    s.unit(1);
    QCOMPARE(s.run(), PortTestEnding::NoPort);
    QCOMPARE(s.probes.size(), kProbeSettingCount);
    std::chrono::nanoseconds scan{0};
    for (int i = 0; i < kProbeSettingCount; ++i) {
        const auto &probe = s.probes.at(i);
        const auto total = probeWaitTotal(LineSettings::parse(QLatin1String(kProbeSettings[i])).baud);
        const auto spread = std::chrono::duration_cast<std::chrono::nanoseconds>(probe.lastDeadline - probe.firstDeadline);
        QVERIFY2(qAbs((spread - (total - total / kProbePasses)).count()) <= 2,
                 qPrintable(QStringLiteral("setting %1: spread %2 ns").arg(i).arg(spread.count())));
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
