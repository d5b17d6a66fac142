// The real control and the real pump, over pseudo-terminals whose far end
// the test owns.
#include "CommEvents.h"
#include "EventPump.h"
#include "FakeCommPort.h"
#include "FakeViews.h"
#include "LocalUser.h"
#include "MSComm.h"
#include "PortLock.h"
#include "PtyPeer.h"
#include "RunTimeError.h"
#include "TestUtil.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <memory>
#include <vector>
#include <QTimer>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = EventPump::Clock;
using testutil::mapPorts;
using testutil::patientProbe;
using testutil::pumpUntil;
using testutil::shortProbe;

namespace {

// Waits for the peer without running any event of this program.
bool peerReceives(const PtyPeer &peer, qsizetype size)
{
    for (int i = 0; i < 2000 && peer.received().size() < size; ++i)
        ::usleep(5000);
    return peer.received().size() == size;
}

int errorNumber(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const RunTimeError &e) {
        return e.number();
    }
    return 0;
}

class ScriptedCounters : public LineCounterSource
{
public:
    explicit ScriptedCounters(LineCounters *counters) : m_counters(counters) {}
    std::optional<LineCounters> read(qintptr) override { return *m_counters; }

private:
    LineCounters *m_counters;
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}

} // namespace

class TestEventPump : public QObject
{
    Q_OBJECT
private slots:
    void passRunsPendingEventsEvenWhenLate();
    void passWaitsUntilItsDeadline_data();
    void passWaitsUntilItsDeadline();
    void timersRunWithoutEndingThePass();
    void inputEndsThePass();
};

void TestEventPump::passRunsPendingEventsEvenWhenLate()
{
    bool ran = false;
    QMetaObject::invokeMethod(qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
    EventPump::instance().DoEventsUntil(Clock::now() - 1s);
    QVERIFY(ran);
}

void TestEventPump::passWaitsUntilItsDeadline_data()
{
    QTest::addColumn<int>("micros");
    QTest::newRow("150 us") << 150;
    QTest::newRow("900 us") << 900;
    QTest::newRow("3.5 ms") << 3500;
}

void TestEventPump::passWaitsUntilItsDeadline()
{
    QFETCH(int, micros);
    const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(micros);
    EventPump::instance().DoEventsUntil(deadline);
    QVERIFY(Clock::now() >= deadline); // nothing happened: no early return
}

void TestEventPump::timersRunWithoutEndingThePass()
{
    int ticks = 0;
    QTimer timer;
    timer.setInterval(1);
    connect(&timer, &QTimer::timeout, this, [&ticks] { ++ticks; });
    timer.start();
    const Clock::time_point deadline = Clock::now() + 300ms;
    EventPump::instance().DoEventsUntil(deadline);
    QVERIFY(Clock::now() >= deadline);
    QVERIFY(ticks > 1); // window events kept running during the wait
}

void TestEventPump::inputEndsThePass()
{
    QObject target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::KeyPress));
    const Clock::time_point deadline = Clock::now() + 60s;
    EventPump::instance().DoEventsUntil(deadline);
    QVERIFY(Clock::now() < deadline);
}

class TestDevices : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { Testfile::LoadEnglish(); }
    void init()
    {
        Variabili::strFerma.clear();
        Variabili::intComPort = 0;
    }
    void cleanup() { mapPorts({"", "", "", ""}); }

    void serialInputEndsThePass();
    void foundAt9600OnCom2();
    void staleBytesAreNotCounted();
    void settingsChangeAndCloseDrainOutput();
    void peerGoneReleasesDevice();
    void peerGoneDuringPortTest();
    void portHeldByAnotherControl_data();
    void portHeldByAnotherControl();
    void portLockLeftBehind_data();
    void portLockLeftBehind();
    void absentPorts();
    void operationsNeedAnOpenPort();
    void permissionDenied();
    void lineErrorsFromCounters();
    void answerInBursts_data();
    void answerInBursts();
};

void TestDevices::serialInputEndsThePass()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    mapPorts({peer.slavePath(), "", "", ""});
    MSComm comm;
    comm.setPortOpen(true);
    QVERIFY(peer.send("x"));
    const Clock::time_point deadline = Clock::now() + 60s;
    EventPump::instance().DoEventsUntil(deadline);
    QVERIFY(Clock::now() < deadline);
    QCOMPARE(comm.Input(), QByteArray("x"));
    comm.setPortOpen(false);
}

// Short waits where the line stays silent; the answer at 9600 is waited for.
void TestDevices::foundAt9600OnCom2()
{
    PtyPeer com1, com2;
    QVERIFY(com1.isValid() && com2.isValid());
    com2.answerProbesAt(9600);
    mapPorts({com1.slavePath(), com2.slavePath(), "", ""});

    FakeCommPort comm(std::make_unique<MSComm>());
    comm.awaitProbeAnswer(2, 9600);
    RecordingView view;
    QCOMPARE(runPortTest(comm, EventPump::instance(), view, shortProbe()), PortTestEnding::Found);
    QCOMPARE(Variabili::intComPort, qint16(2));

    QStringList expected = probingTexts(1) + probingTexts(2, 7); // up to 9600
    expected << Variabili::strConnected + QStringLiteral("2");
    QCOMPARE(view.statusTexts(), expected);
    QVERIFY(!comm.PortOpen());
    QTRY_COMPARE(com1.received(), QByteArray(8, '\x02')); // one probe per setting, nothing else
    QCOMPARE(com2.received(), QByteArray(7, '\x02'));
    QCOMPARE(descriptorsOn(com2.slavePath()), 0);
}

void TestDevices::staleBytesAreNotCounted()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    mapPorts({peer.slavePath(), "", "", ""});
    QVERIFY(peer.send("stale bytes before open"));

    MSComm comm;
    comm.setSettings(QStringLiteral("9600,N,8,1"));
    comm.setPortOpen(true);
    QCOMPARE(comm.InBufferCount(), 0);

    QVERIFY(peer.send("fresh"));
    QVERIFY(pumpUntil([&] { return comm.InBufferCount() >= 5; }));
    QCOMPARE(comm.Input(), QByteArray("fresh"));
    QCOMPARE(comm.Input(), QByteArray());

    // An answer that came at one setting is not counted at the next one: it
    // waits in the line's buffer while the port is closed...
    QVERIFY(peer.send("late answer"));
    comm.setPortOpen(false);
    QTRY_COMPARE(bytesWaitingOn(peer.slavePath()), 11);
    // ...and the next open empties it.
    comm.setSettings(QStringLiteral("19200,N,8,1"));
    comm.setPortOpen(true);
    QCOMPARE(comm.InBufferCount(), 0);
    comm.setPortOpen(false);
}

void TestDevices::settingsChangeAndCloseDrainOutput()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    mapPorts({peer.slavePath(), "", "", ""});
    MSComm comm;
    comm.setPortOpen(true);

    // More than the pseudo-terminal holds: the rest waits inside the control.
    // Every byte must leave before the change (and before the close), without
    // any event running.
    const QByteArray data = pattern(512 * 1024);
    peer.setPaused(true);
    comm.setOutput(data);
    peer.setPaused(false);
    comm.setSettings(QStringLiteral("2400,N,8,1"));
    QCOMPARE(comm.Settings(), QStringLiteral("2400,N,8,1"));
    QVERIFY(peerReceives(peer, data.size()));

    peer.setPaused(true);
    comm.setOutput(data);
    peer.setPaused(false);
    comm.setPortOpen(false);
    QVERIFY(peerReceives(peer, 2 * data.size()));
    QVERIFY(peer.received() == data + data);
}

void TestDevices::peerGoneReleasesDevice()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    const QString slave = peer.slavePath();
    mapPorts({slave, "", "", ""});
    MSComm comm;
    QList<qint16> events;
    connect(&comm, &CommControl::OnComm, this, [&] { events << comm.CommEvent(); });
    comm.setPortOpen(true);
    QCOMPARE(descriptorsOn(slave), 1);

    peer.hangUp();
    QVERIFY(pumpUntil([&] { return !events.isEmpty(); }));
    for (int i = 0; i < 100; ++i)
        EventPump::instance().DoEvents();
    QCOMPARE(events, QList<qint16>{CommEvents::comEventDeviceLost}); // once, not a storm
    QCOMPARE(descriptorsOn(slave), 0);                  // released at once
    QVERIFY(comm.PortOpen()); // until the owner closes it
    QVERIFY(comm.deviceLost());

    QCOMPARE(errorNumber([&] { comm.InBufferCount(); }), kErrDeviceLost);
    QCOMPARE(errorNumber([&] { comm.Input(); }), kErrDeviceLost);
    QCOMPARE(errorNumber([&] { comm.setOutput("\x05"); }), kErrDeviceLost);
    QCOMPARE(errorNumber([&] { comm.setPortOpen(false); }), 0);
    QVERIFY(!comm.PortOpen());
    QCOMPARE(errorNumber([&] { comm.setPortOpen(false); }), 0);
}

void TestDevices::peerGoneDuringPortTest()
{
    PtyPeer com1, com2;
    QVERIFY(com1.isValid() && com2.isValid());
    com1.hangUpOnFirstProbe();
    com2.answerProbesAt(1200);
    mapPorts({com1.slavePath(), com2.slavePath(), "", ""});

    FakeCommPort comm(std::make_unique<MSComm>());
    comm.awaitProbeAnswer(2, 1200);
    int lost = 0;
    connect(&comm, &CommControl::OnComm, this, [&] { lost += comm.CommEvent() == CommEvents::comEventDeviceLost; });
    RecordingView view;
    QCOMPARE(runPortTest(comm, EventPump::instance(), view, shortProbe()), PortTestEnding::Found);
    QCOMPARE(Variabili::intComPort, qint16(2));
    QCOMPARE(view.unavailable, QStringList{"1 Other"});
    QVERIFY(lost <= 1);
    QCOMPARE(descriptorsOn(com1.slavePath()), 0);
    QCOMPARE(com1.probesSeen(), 1);
}

void TestDevices::portHeldByAnotherControl_data()
{
    QTest::addColumn<QString>("holderName"); // "device" or "link"
    QTest::addColumn<QString>("otherName");
    QTest::newRow("same name") << "device" << "device";
    QTest::newRow("device, then a link to it") << "device" << "link";
    QTest::newRow("link, then the device") << "link" << "device";
}

// One program per line, root included (root passes the exclusive open): a
// second control naming the same pseudo-terminal, by the same path or another,
// is refused with 8005 and never disturbs the holder: its pending answer is
// not flushed, its line speed not changed.
void TestDevices::portHeldByAnotherControl()
{
    QFETCH(QString, holderName);
    QFETCH(QString, otherName);
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyK410"));
    QVERIFY(QFile::link(peer.slavePath(), link));
    const auto name = [&](const QString &which) { return which == "link" ? link : peer.slavePath(); };
    mapPorts({name(holderName), name(otherName), "", ""});
    MSComm holder, comm;
    holder.setSettings(QStringLiteral("110,N,8,1"));
    holder.setPortOpen(true);
    peer.answerProbesAt(110);
    QVERIFY(peer.send("ANSWER")); // on its way to the holder

    comm.setCommPort(2);
    try {
        comm.setPortOpen(true);
        QFAIL("opened a port held by another control");
    } catch (const RunTimeError &e) {
        QCOMPARE(e.number(), kErrPortAlreadyOpen);
        QVERIFY2(e.description().contains(name(otherName)) && e.description().contains(QLatin1String("COM2")),
                 qPrintable(e.description()));
    }
    QVERIFY(!comm.PortOpen());
    QVERIFY(pumpUntil([&] { return holder.InBufferCount() >= 6; }));
    QCOMPARE(holder.Input(), QByteArray("ANSWER"));
    holder.setOutput("\x02");
    QVERIFY(pumpUntil([&] { return holder.InBufferCount() >= 30; })); // still at 110 baud
    holder.setPortOpen(false);

    comm.setPortOpen(true); // free again once the holder has closed
    QVERIFY(comm.PortOpen());
    comm.setPortOpen(false);
    QCOMPARE(descriptorsOn(peer.slavePath()), 0);
}

void TestDevices::portLockLeftBehind_data()
{
    QTest::addColumn<bool>("rootsCopy"); // whose copy held the port: root's, or the technician's own
    QTest::addColumn<bool>("killed");    // killed (kill -9) before the technician opens the port
    QTest::addColumn<QString>("said");   // what the technician is told; empty: the port opens
    QTest::newRow("root's copy killed: its lock stays") << true << true << "Stale port lock: COM1";
    QTest::newRow("root's copy still running") << true << false << "Port already open: COM1";
    QTest::newRow("the technician's own copy killed") << false << true << "";
}

// A copy killed while it held the port leaves the serial library's lock file.
// The technician, another user, is told that root's lock was left by a
// program that has ended and how to remove it, not that a program holds the
// port; root's lock stays for root to remove. A lock of their own is taken over.
void TestDevices::portLockLeftBehind()
{
    QFETCH(bool, rootsCopy);
    QFETCH(bool, killed);
    QFETCH(QString, said);
    testutil::LocalUser technician;
    if (!technician.isValid())
        QSKIP(qPrintable(technician.whyNone()));
    PtyPeer peer;
    QVERIFY(peer.isValid() && technician.give(peer.slavePath())); // as for a technician in dialout
    mapPorts({peer.slavePath(), "", "", ""});
    QProcess holder; // this program, holding the port until it is killed
    const uid_t uid = rootsCopy ? 0 : technician.uid();
    const gid_t gid = technician.gid();
    holder.setChildProcessModifier([uid, gid] {
        if (uid != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(3);
    });
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-port"), peer.slavePath()});
    if (!holder.waitForReadyRead(20000))
        QSKIP("the test program cannot be run as the second user from this folder");
    QString lock;
    for (const QString &file : PortLock::lockFilesFor(peer.slavePath()))
        lock = lock.isEmpty() && QFile::exists(file) ? file : lock;
    QVERIFY2(!lock.isEmpty(), "the serial library took no lock file");
    const auto removeLock = qScopeGuard([&] {
        holder.kill();
        holder.waitForFinished();
        QFile::remove(lock);
    });
    if (killed) {
        QVERIFY(::kill(pid_t(holder.processId()), SIGKILL) == 0 && holder.waitForFinished());
        // A port's exclusive mode ends with its last close; a pseudo-terminal's
        // lasts as long as its far end: end it as the port would.
        const int fd = ::open(QFile::encodeName(peer.slavePath()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0 && ::ioctl(fd, TIOCNXCL) == 0 && ::close(fd) == 0);
    }

    MSComm comm;
    QString error;
    {
        testutil::LocalUser::Acting as(technician);
        QVERIFY(as.ok());
        try {
            comm.setPortOpen(true);
            comm.setPortOpen(false);
        } catch (const RunTimeError &e) {
            QCOMPARE(e.number(), kErrPortAlreadyOpen);
            error = e.description();
        }
    }
    if (said.isEmpty()) { // taken over, and gone once closed
        QVERIFY2(error.isEmpty() && !QFile::exists(lock), qPrintable(error));
        return;
    }
    QVERIFY2(error.startsWith(said), qPrintable(error));
    QCOMPARE(error.endsWith(QStringLiteral("left by a program that has ended: remove %1 as root").arg(lock)), killed);
    QCOMPARE(testutil::ownerAndMode(lock).section(QLatin1Char(' '), 0, 0), QStringLiteral("0:0")); // root's, kept
}

void TestDevices::absentPorts()
{
    QTemporaryFile plain;
    QVERIFY(plain.open());
    mapPorts({"", "/nonexistent/k410-tty", plain.fileName(), ""});
    MSComm comm;
    try {
        comm.setPortOpen(true);
        QFAIL("opened a port without a device");
    } catch (const RunTimeError &e) {
        QCOMPARE(e.number(), kErrInvalidPortNumber);
        QVERIFY(e.description().contains(QLatin1String("COM1")));
    }
    comm.setCommPort(2);
    try {
        comm.setPortOpen(true);
        QFAIL("opened a missing device");
    } catch (const RunTimeError &e) {
        QCOMPARE(e.number(), kErrInvalidPortNumber);
        QVERIFY2(e.description().contains(QLatin1String("/nonexistent/k410-tty")), qPrintable(e.description()));
    }
    comm.setCommPort(3);
    QCOMPARE(errorNumber([&] { comm.setPortOpen(true); }), kErrInvalidPortNumber); // not a terminal
    QVERIFY(!comm.PortOpen());
    QCOMPARE(errorNumber([&] { comm.setCommPort(0); }), kErrInvalidPortNumber);
    QCOMPARE(errorNumber([&] { comm.setCommPort(5); }), kErrInvalidPortNumber);
    QCOMPARE(comm.CommPort(), qint16(3));
}

void TestDevices::operationsNeedAnOpenPort()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    mapPorts({peer.slavePath(), "", "", ""});
    MSComm comm;
    QCOMPARE(errorNumber([&] { comm.setOutput("\x02"); }), kErrPortNotOpen);
    QCOMPARE(errorNumber([&] { comm.Input(); }), kErrPortNotOpen);
    QCOMPARE(errorNumber([&] { comm.InBufferCount(); }), kErrPortNotOpen);
    QCOMPARE(errorNumber([&] { comm.setPortOpen(false); }), 0);

    comm.setPortOpen(true);
    QCOMPARE(errorNumber([&] { comm.setCommPort(2); }), kErrPortAlreadyOpen);
    QCOMPARE(comm.CommPort(), qint16(1));
    QCOMPARE(errorNumber([&] { comm.setPortOpen(true); }), kErrPortAlreadyOpen);
    QVERIFY(comm.PortOpen());
    QCOMPARE(errorNumber([&] { comm.setSettings(QStringLiteral("9600,Q,8,1")); }), 380);
    QCOMPARE(comm.Settings(), QStringLiteral("19200,N,8,1"));
    comm.setPortOpen(false);
}

void TestDevices::permissionDenied()
{
    if (::geteuid() == 0)
        QSKIP("root may open any device");
    PtyPeer peer;
    QVERIFY(peer.isValid());
    QVERIFY(QFile::setPermissions(peer.slavePath(), QFileDevice::Permissions()));
    mapPorts({peer.slavePath(), "", "", ""});
    MSComm comm;
    try {
        comm.setPortOpen(true);
        QFAIL("opened a device the user may not open");
    } catch (const RunTimeError &e) {
        QCOMPARE(e.number(), kErrPermissionDenied);
        QVERIFY(e.description().contains(peer.slavePath()));
    }
}

void TestDevices::lineErrorsFromCounters()
{
    PtyPeer peer;
    QVERIFY(peer.isValid());
    mapPorts({peer.slavePath(), "", "", ""});
    LineCounters counters;
    counters.frame = 12; // counted before this open: not an event
    MSComm comm;
    comm.setLineCounterSource(std::make_unique<ScriptedCounters>(&counters));
    QList<qint16> codes;
    RecordingEventView view;
    connect(&comm, &CommControl::OnComm, this, [&] {
        codes << comm.CommEvent();
        MSComm1_OnComm(comm, view);
    });
    comm.setPortOpen(true);

    counters.cts += 1;
    QVERIFY(pumpUntil([&] { return !codes.isEmpty(); }));
    QCOMPARE(codes, QList<qint16>{CommEvents::comEvCTS});

    // No transfer running: a framing error shows nothing. Property reads
    // never raise the event; the pump does.
    counters.frame += 1;
    for (int i = 0; i < 50; ++i)
        comm.InBufferCount();
    QCOMPARE(codes.size(), 1);
    QVERIFY(pumpUntil([&] { return codes.size() == 2; }));
    QCOMPARE(codes.last(), CommEvents::comEventFrame);
    QCOMPARE(view.calls.count(QStringLiteral("show")), 0);
    QCOMPARE(Variabili::strFerma, QString());

    // Transfer running: shown, and the stop request raised.
    view.visible = true;
    counters.parity += 2;
    counters.brk += 1;
    QVERIFY(pumpUntil([&] { return codes.size() == 4; }));
    QCOMPARE(codes.mid(2), (QList<qint16>{CommEvents::comEventBreak, CommEvents::comEventRxParity}));
    QCOMPARE(view.texts(), (QStringList{"Break error", "Parity Error"}));
    QCOMPARE(Variabili::strFerma, QStringLiteral("ferma"));

    // Line-state changes never stop a transfer.
    Variabili::strFerma.clear();
    counters.dsr += 1;
    QVERIFY(pumpUntil([&] { return codes.size() == 5; }));
    QCOMPARE(view.texts().size(), 2);
    QCOMPARE(Variabili::strFerma, QString());
    comm.setPortOpen(false);
}

void TestDevices::answerInBursts_data()
{
    QTest::addColumn<QList<int>>("bursts");
    QTest::addColumn<bool>("found");
    QTest::newRow("three ticks of 10") << QList<int>{10, 10, 10} << true;
    QTest::newRow("fifteen ticks of 2") << QList<int>(15, 2) << true;
    QTest::newRow("20 then 11: 31 is no answer") << QList<int>{20, 11} << false;
    QTest::newRow("29 in three ticks") << QList<int>{9, 10, 10} << false;
}

// The answer comes at 110 baud in bursts spread over many passes of the
// first wait: the count after the pass in which each burst lands decides.
// Found: one probe, in a wait long enough for every burst however busy the
// machine (it ends with the thirtieth byte); otherwise one probe per setting,
// in short waits (no count these bursts can make is 30, whenever they land).
void TestDevices::answerInBursts()
{
    QFETCH(QList<int>, bursts);
    QFETCH(bool, found);
    PtyPeer peer;
    QVERIFY(peer.isValid());
    peer.answerProbesAt(110);
    peer.answerInBursts(bursts);
    mapPorts({peer.slavePath(), "", "", ""});
    MSComm comm;
    RecordingView view;
    QCOMPARE(runPortTest(comm, EventPump::instance(), view, found ? patientProbe() : ProbeTiming{400ms, 0.02}),
             found ? PortTestEnding::Found : PortTestEnding::NoPort);
    QCOMPARE(view.statusTexts().last(), found ? Variabili::strConnected + QStringLiteral("1") : Variabili::strNoPort);
    QTRY_COMPARE(peer.received(), QByteArray(found ? 1 : kProbeSettingCount, '\x02'));
}

void addDeviceSuites(std::vector<std::unique_ptr<QObject>> &suites)
{
    suites.push_back(std::make_unique<TestEventPump>());
    suites.push_back(std::make_unique<TestDevices>());
}

#include "tst_pty.moc"
