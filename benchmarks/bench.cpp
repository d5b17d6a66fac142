// Benchmark: runs the real window, serial control and event pump against the
// unit simulator over pseudo-terminals and prints one table of figures: how close
// the transfer runs to the speed of the wire, the CPU it costs, the host's
// turnaround per record, and how long the port scan takes. The window, the
// simulated units and the port mapping are the test suites' (tests/common).
//
// Usage: k410-bench [--quick] [--unpaced] [--scan] [--records N]
//   --quick      a small image instead of a full-size one (for a smoke run)
//   --unpaced    only the unpaced transfer (host turnaround per record)
//   --scan       only the port scan: four silent ports (time, CPU share), and
//                the unit found at each speed unless --quick
//   --records N  image size (default 5041, 200 with --quick)

#include "DlgOpen.h"
#include "Flash.h"
#include "FreshWindow.h"
#include "MSComm.h"
#include "SimUnit.h"
#include "TestUtil.h"
#include "Variabili.h"
#include "frmIstruzioni.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <fcntl.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

// CPU time of the application's side: the thread that runs the window, its
// serial control and its event pump. The simulated units run on threads of
// their own in this process and are not the application's cost.
double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Mark
{
    Clock::time_point at{};
    double cpu = 0;
    bool set = false;
    void take()
    {
        at = Clock::now();
        cpu = cpuSeconds();
        set = true;
    }
};

// The window's serial control with a stopwatch: it forwards everything to a
// real MSComm and marks the moments that bound the backup and the upgrade.
class TimedComm : public CommControl
{
public:
    TimedComm()
    {
        connect(&m_inner, &CommControl::OnComm, this, &CommControl::OnComm);
    }
    qint16 CommPort() const override { return m_inner.CommPort(); }
    void setCommPort(qint16 port) override { m_inner.setCommPort(port); }
    QString Settings() const override { return m_inner.Settings(); }
    void setSettings(const QString &s) override { m_inner.setSettings(s); }
    bool PortOpen() const override { return m_inner.PortOpen(); }
    void setPortOpen(bool open) override { m_inner.setPortOpen(open); }
    qint16 CommEvent() const override { return m_inner.CommEvent(); }
    QString device() const override { return m_inner.device(); }
    int InBufferCount() override { return m_inner.InBufferCount(); }

    void setOutput(const QByteArray &bytes) override
    {
        // Host turnaround: from taking the unit's answer (or a backup block) to
        // sending the next record (or the answer to the block).
        if (m_answerTakenAt && (bytes.size() == 16 || bytes == QByteArray(1, '\x06'))) {
            turnaround += Clock::now() - *m_answerTakenAt;
            ++turnarounds;
        }
        m_answerTakenAt.reset();
        if (bytes == QByteArray(1, 'B'))
            m_afterErase = true;
        else if (bytes.size() == 16 && m_afterErase) {
            m_afterErase = false;
            if (!upgradeStart.set)
                upgradeStart.take();
        } else if (bytes == QByteArray(1, '\x06')) {
            if (!backupStart.set)
                backupStart.take();
            else if (m_lastInputSize == 4)
                backupEnd.take();
        } else if (bytes.size() == 4) {
            m_trailerSent = true;
        }
        m_inner.setOutput(bytes);
    }
    QByteArray Input() override
    {
        QByteArray bytes = m_inner.Input();
        if (!bytes.isEmpty())
            m_lastInputSize = int(bytes.size());
        if (bytes == QByteArray(1, '\x06') || bytes.size() == 16)
            m_answerTakenAt = Clock::now();
        if (m_trailerSent && bytes == QByteArray(1, '\x06'))
            upgradeEnd.take();
        if (!bytes.isEmpty())
            m_trailerSent = false;
        return bytes;
    }

    Mark backupStart, backupEnd, upgradeStart, upgradeEnd;
    Clock::duration turnaround{};
    int turnarounds = 0;

private:
    MSComm m_inner;
    bool m_afterErase = false;
    bool m_trailerSent = false;
    int m_lastInputSize = 0;
    std::optional<Clock::time_point> m_answerTakenAt;
};

struct Row
{
    QString name, value, target;
};
QList<Row> g_rows;
void row(const QString &name, const QString &value, const QString &target = {})
{
    g_rows.append({name, value, target});
    std::fprintf(stderr, "  %-58s %s\n", qPrintable(name), qPrintable(value));
}

// The window loaded afresh with `control` as its serial control, shown as a
// technician sees it unless K410_BENCH_HIDDEN is set.
frmIstruzioni &freshWindow(std::unique_ptr<CommControl> control = nullptr)
{
    frmIstruzioni &w = testwindow::freshWindow(std::move(control));
    if (!qEnvironmentVariableIsSet("K410_BENCH_HIDDEN"))
        w.show();
    QApplication::processEvents();
    return w;
}

// A simulated unit set up by k410-sim's arguments, started; fatal when it cannot be.
std::unique_ptr<SimUnit> startUnit(const QStringList &args)
{
    auto unit = std::make_unique<SimUnit>(args);
    if (!unit->start())
        qFatal("the simulated unit did not start: %s", qPrintable(unit->errorText()));
    return unit;
}

struct TransferFigures
{
    double upgradeRatio = 0, backupRatio = 0, cpuShare = 0, recordsPerSecond = 0;
    double turnaroundUs = 0, turnaroundShare = 0; ///< host's own time per record, and its share of the wall time
    double totalSeconds = 0; ///< the whole run, from Start pressed to the window's last text
    bool ok = false;
};

// A release image of `records` records written to `dir`, and a unit holding
// other firmware of that size, started and mapped to COM1.
struct UpgradeSetup
{
    QString image;
    QByteArray imageBytes;
    std::unique_ptr<SimUnit> unit;
};

UpgradeSetup upgradeSetup(const QString &dir, int records, bool paced, int adapterTickMs = 0)
{
    UpgradeSetup s;
    s.image = dir + QStringLiteral("/release.bio");
    s.imageBytes = SimUnit::image({QStringLiteral("--records"), QString::number(records), QStringLiteral("--seed"), QStringLiteral("11")});
    testutil::writeAll(s.image, s.imageBytes);
    QStringList args{QStringLiteral("--records"), QString::number(records), QStringLiteral("--seed"), QStringLiteral("5"),
                     QStringLiteral("--erase-ms"), QStringLiteral("200")};
    if (paced)
        args << QStringLiteral("--pace");
    if (adapterTickMs > 0)
        args << QStringLiteral("--latency-ms") << QString::number(adapterTickMs);
    s.unit = startUnit(args);
    testutil::mapPorts({s.unit->device()});
    return s;
}

TransferFigures transfer(const QString &dir, int records, bool backup, bool paced, int adapterTickMs = 0)
{
    const UpgradeSetup setup = upgradeSetup(dir, records, paced, adapterTickMs);
    const QString &image = setup.image;
    const QByteArray &imageBytes = setup.imageBytes;
    SimUnit *unit = setup.unit.get();

    auto comm = std::make_unique<TimedComm>();
    TimedComm *timed = comm.get();
    frmIstruzioni &w = freshWindow(std::move(comm));
    Variabili::intComPort = 1;
    Variabili::bytMode = backup ? 1 : 2;
    Variabili::strFerma.clear();
    DlgOpen::setAnswerer([&](bool save, const QString &, const QString &, const QString &) -> std::optional<QString> {
        return save ? dir + QStringLiteral("/saved.bak") : image;
    });
    const auto runStart = Clock::now();
    w.cmdStart_Click();
    const double total = seconds(Clock::now() - runStart);
    DlgOpen::setAnswerer(nullptr);
    TransferFigures f;
    f.totalSeconds = total;
    f.ok = w.controls().Text1(6)->toPlainText() == Variabili::strUpgrDone && timed->upgradeEnd.set;
    unit->stop();
    f.ok = f.ok && unit->firmware() == imageBytes;
    if (!f.ok)
        return f;

    const double baud = 19200.0;
    const double upgradeWire = (double(records + 1) * 17 + 5) * 10 / baud;
    const double upgradeWall = seconds(timed->upgradeEnd.at - timed->upgradeStart.at);
    const Mark &first = backup ? timed->backupStart : timed->upgradeStart;
    f.upgradeRatio = upgradeWall / upgradeWire;
    if (timed->turnarounds > 0) {
        f.turnaroundUs = seconds(timed->turnaround) * 1e6 / timed->turnarounds;
        f.turnaroundShare = seconds(timed->turnaround) / seconds(timed->upgradeEnd.at - first.at);
    }
    f.recordsPerSecond = double(records + 1) / upgradeWall;
    f.cpuShare = (timed->upgradeEnd.cpu - first.cpu) / seconds(timed->upgradeEnd.at - first.at);
    if (backup) {
        // go-ahead, first block's leading byte, n records and the end record,
        // an answer per record, the trailer and its answer.
        const double backupWire = (1.0 + 1 + double(records + 1) * 16 + records + 4 + 1) * 10 / baud;
        f.backupRatio = seconds(timed->backupEnd.at - timed->backupStart.at) / backupWire;
    }
    testwindow::unloadWindow();
    return f;
}

// The same upgrade through k410-flash's commands, in this process: the whole
// run's wall time (port open to result), or -1 when the unit does not end up
// holding the image.
double flashUpgrade(const QString &dir, int records, bool paced)
{
    const UpgradeSetup setup = upgradeSetup(dir, records, paced);
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    const auto t0 = Clock::now();
    const int status = Flash::run({QStringLiteral("upgrade"), QStringLiteral("--port"), QStringLiteral("1"),
                                   QStringLiteral("--quiet"), setup.image},
                                  out, err, false);
    const double wall = seconds(Clock::now() - t0);
    setup.unit->stop();
    return status == 0 && setup.unit->firmware() == setup.imageBytes ? wall : -1;
}

double scan(const QList<QStringList> &simArgs, bool expectFound, double *cpuShare = nullptr)
{
    std::vector<std::unique_ptr<SimUnit>> units;
    QStringList devices;
    for (const QStringList &args : simArgs) {
        units.push_back(startUnit(args));
        devices << units.back()->device();
    }
    testutil::mapPorts(devices);
    frmIstruzioni &w = freshWindow();
    w.cmdOk_Click(); // cable step -> port-test step
    const double cpu0 = cpuSeconds();
    const auto t0 = Clock::now();
    w.cmdCom_Click();
    const double wall = seconds(Clock::now() - t0);
    if (cpuShare)
        *cpuShare = (cpuSeconds() - cpu0) / wall;
    const bool found = Variabili::intComPort == 1 && w.controls().Text1(6)->toPlainText() == Variabili::strConnected + QStringLiteral("1");
    testwindow::unloadWindow();
    return found == expectFound ? wall : -1;
}

// The floor any host meets over a pseudo-terminal on this machine: two bare
// processes, blocking reads, 16 bytes one way and 1 byte back, nothing else.
// Run before the application object exists (it forks).
double ptyRoundTripUs()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    constexpr int kRounds = 5000;
    char buf[64];
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < kRounds; ++i) {
            for (ssize_t got = 0; got < 16;) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                got += n > 0 ? n : 0;
            }
            if (::write(master, "\x06", 1) != 1)
                _exit(1);
        }
        _exit(0);
    }
    const char record[16] = {};
    const auto t0 = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        if (::write(slave, record, sizeof record) != ssize_t(sizeof record))
            break;
        while (::read(slave, buf, sizeof buf) < 1) {
        }
    }
    const double us = seconds(Clock::now() - t0) * 1e6 / kRounds;
    waitpid(child, nullptr, 0);
    ::close(slave);
    ::close(master);
    return us;
}

QString machine()
{
    utsname u{};
    uname(&u);
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    return QStringLiteral("%1 %2, %3, %4 cores").arg(QString::fromLatin1(u.sysname), QString::fromLatin1(u.release), cpu)
        .arg(QThread::idealThreadCount());
}

// Start-up: the start window's own start-up path in a fresh process, five times.
void startupRows()
{
    QList<double> startups;
    long rss = 0;
    for (int i = 0; i < 5; ++i) {
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        env.insert(QStringLiteral("K410_T0_NS"), QString::number(qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec));
        probe.setProcessEnvironment(env);
        probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/k410-bench-startup"), {});
        probe.waitForFinished(20000);
        for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
            if (line.startsWith("startup_ms="))
                startups << line.mid(11).toDouble();
            else if (line.startsWith("peak_rss_kb="))
                rss = qMax(rss, line.mid(12).toLong());
        }
    }
    std::sort(startups.begin(), startups.end());
    row(QStringLiteral("Start-up to start window shown (median of 5, %1)").arg(QGuiApplication::platformName()),
        startups.isEmpty() ? QStringLiteral("FAILED") : QString::number(startups[startups.size() / 2] / 1000, 'f', 3) + QStringLiteral(" s"),
        QStringLiteral("<= 0.5 s"));
    row(QStringLiteral("Start-up: peak resident memory"), QString::number(double(rss) / 1024, 'f', 1) + QStringLiteral(" MB"),
        QStringLiteral("<= 60 MB"));
}

} // namespace

int main(int argc, char **argv)
{
    const double floorUs = ptyRoundTripUs();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    QTemporaryDir dir;
    qputenv("K410_WORKDIR", dir.path().toLocal8Bit());
    int records = quick ? 200 : 5041;
    if (const int i = int(args.indexOf(QStringLiteral("--records"))); i > 0 && i + 1 < args.size())
        records = args[i + 1].toInt();
    const bool unpacedOnly = args.contains(QStringLiteral("--unpaced"));
    const bool scanOnly = args.contains(QStringLiteral("--scan"));

    std::fprintf(stderr, "Running (this takes a few minutes)...\n");
    const auto pct = [](double v) { return QString::number(v * 100, 'f', 1) + QLatin1Char('%'); };
    const auto ratio = [](double v) { return QString::number(v, 'f', 4); };
    const auto secs = [](double v) { return v < 0 ? QStringLiteral("FAILED") : QString::number(v, 'f', 2) + QStringLiteral(" s"); };

    if (!unpacedOnly && !scanOnly) {
        const TransferFigures up = transfer(dir.path(), records, false, true);
        row(QStringLiteral("Upgrade, %1 records, paced 19200: wall/wire ratio").arg(records),
            up.ok ? ratio(up.upgradeRatio) : QStringLiteral("FAILED"), QStringLiteral("<= 1.01"));
        row(QStringLiteral("Upgrade, paced: process CPU share"), up.ok ? pct(up.cpuShare) : QStringLiteral("FAILED"),
            QStringLiteral("<= 5%"));
        row(QStringLiteral("Upgrade, paced: host turnaround per record (share of wall)"),
            up.ok ? QStringLiteral("%1 us (%2)").arg(up.turnaroundUs, 0, 'f', 1).arg(pct(up.turnaroundShare)) : QStringLiteral("FAILED"));
        const TransferFigures both = transfer(dir.path(), records, true, true);
        row(QStringLiteral("Backup + Upgrade, paced: backup wall/wire ratio"), both.ok ? ratio(both.backupRatio) : QStringLiteral("FAILED"),
            QStringLiteral("<= 1.01"));
        row(QStringLiteral("Backup + Upgrade, paced: upgrade wall/wire ratio"), both.ok ? ratio(both.upgradeRatio) : QStringLiteral("FAILED"),
            QStringLiteral("<= 1.01"));
        row(QStringLiteral("Backup + Upgrade, paced: process CPU share"), both.ok ? pct(both.cpuShare) : QStringLiteral("FAILED"),
            QStringLiteral("<= 5%"));
        // What a USB adapter's latency timer costs a stop-and-wait download, and
        // what setting it to 1 ms gives back.
        const int adapterRecords = std::min(records, 1000);
        for (int tick : {16, 1}) {
            const TransferFigures a = transfer(dir.path(), adapterRecords, false, true, tick);
            row(QStringLiteral("Upgrade, %1 records, paced, %2 ms adapter: wall/wire").arg(adapterRecords).arg(tick),
                a.ok ? ratio(a.upgradeRatio) : QStringLiteral("FAILED"));
        }
    }
    if (!scanOnly) {
        const TransferFigures fast = transfer(dir.path(), records, false, false);
        row(QStringLiteral("Upgrade, unpaced pty: records per second"),
            fast.ok ? QString::number(fast.recordsPerSecond, 'f', 0) : QStringLiteral("FAILED"), QStringLiteral(">= 20000"));
        row(QStringLiteral("Upgrade, unpaced pty: time per record (host + pty + simulator)"),
            fast.ok ? QString::number(1e6 / fast.recordsPerSecond, 'f', 1) + QStringLiteral(" us") : QStringLiteral("FAILED"));
        // The command line runs the window's procedure: its whole run should
        // take what the window's does.
        for (bool paced : {true, false}) {
            if (paced && unpacedOnly)
                continue;
            const int n = paced ? std::min(records, 1000) : records;
            const TransferFigures window = paced ? transfer(dir.path(), n, false, true) : fast;
            const double flash = flashUpgrade(dir.path(), n, paced);
            row(QStringLiteral("Upgrade, %1 records, %2: k410-flash / window, whole run").arg(n).arg(paced ? QStringLiteral("paced") : QStringLiteral("unpaced pty")),
                window.ok && flash > 0 ? QStringLiteral("%1 (%2 s / %3 s)").arg(flash / window.totalSeconds, 0, 'f', 3)
                                             .arg(flash, 0, 'f', 2).arg(window.totalSeconds, 0, 'f', 2)
                                       : QStringLiteral("FAILED"), QStringLiteral("~1.00"));
        }
        row(QStringLiteral("Bare pty round trip, two processes (records per second)"),
            QStringLiteral("%1 us (%2)").arg(floorUs, 0, 'f', 1).arg(1e6 / floorUs, 0, 'f', 0));
        row(QStringLiteral("Upgrade, unpaced pty: host's own turnaround per record"),
            fast.ok ? QString::number(fast.turnaroundUs, 'f', 1) + QStringLiteral(" us") : QStringLiteral("FAILED"));
    }

    static const int speeds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 19200};
    for (int speed : speeds) {
        if (unpacedOnly || (quick && speed < 9600))
            continue;
        const double t = scan({{QStringLiteral("--probe-speed"), QString::number(speed), QStringLiteral("--pace")}}, true);
        row(QStringLiteral("Port scan: unit found on COM1 at %1 baud").arg(speed), secs(t));
    }
    if ((!quick || scanOnly) && !unpacedOnly) {
        double cpu = 0;
        const QStringList silent{QStringLiteral("--silent")};
        const double t = scan({silent, silent, silent, silent}, false, &cpu);
        row(QStringLiteral("Port scan: 4 silent open ports"), secs(t), QStringLiteral("<= 30 s"));
        row(QStringLiteral("Port scan: 4 silent ports, process CPU share"), t < 0 ? QStringLiteral("FAILED") : pct(cpu),
            QStringLiteral("<= 5%"));
    }

    if (!scanOnly)
        startupRows();

    std::printf("\nk410-bios benchmark on %s\n", qPrintable(machine()));
    std::printf("%-66s %14s  %s\n", "figure", "measured", "target");
    for (const Row &r : g_rows)
        std::printf("%-66s %14s  %s\n", qPrintable(r.name), qPrintable(r.value), qPrintable(r.target));
    std::fflush(stdout);
    return 0;
}
