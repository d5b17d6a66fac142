// The unit simulator, driven over its pseudo-terminal the way the application drives a
// serial port: plain POSIX on the slave device, at a chosen line speed. Timing checks
// assert lower bounds only ("not before the line time"), which cannot flake.

#include "SimImage.h"
#include "SimOptions.h"
#include "UnitSimulator.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace k410sim;

namespace {

const QByteArray ENQ("\x05"), ACK("\x06"), NAK("\x15"), PROBE("\x02");

QByteArray qbytes(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), qsizetype(b.size()));
}

const std::uint8_t *raw(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

speed_t speedConstant(unsigned baud)
{
    switch (baud) {
    case 300: return B300;
    case 1200: return B1200;
    case 9600: return B9600;
    default: return B19200;
    }
}

// The kernel's termios2, for setting a speed in baud (BOTHER) as Wine does.
struct KernelTermios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2);
constexpr unsigned long kTcsets2 = _IOW('T', 0x2B, KernelTermios2);
constexpr tcflag_t kBother = 0010000; // speed bits: "the speed is in baud"
constexpr int kInputSpeedShift = 16; // IBSHIFT: the input speed bits above the output ones

// The host's end of the line: the slave device opened like a serial port.
class Host
{
public:
    enum class SpeedAs { Constant, Baud };
    explicit Host(const std::string &path, unsigned baud = 19200, SpeedAs as = SpeedAs::Constant)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (m_fd >= 0)
            setSpeed(baud);
        if (m_fd >= 0 && as == SpeedAs::Baud)
            setSpeedInBaud(baud);
    }
    // The speed as a figure in baud through termios2, the classic speed bits
    // saying BOTHER.
    void setSpeedInBaud(unsigned baud)
    {
        KernelTermios2 t{};
        QCOMPARE(::ioctl(m_fd, kTcgets2, &t), 0);
        t.c_cflag = (t.c_cflag & ~tcflag_t(CBAUD | (CBAUD << kInputSpeedShift))) | kBother | (kBother << kInputSpeedShift);
        t.c_ispeed = t.c_ospeed = baud;
        QCOMPARE(::ioctl(m_fd, kTcsets2, &t), 0);
    }
    ~Host() { close(); }
    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void setSpeed(unsigned baud)
    {
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, speedConstant(baud));
        cfsetospeed(&t, speedConstant(baud));
        tcsetattr(m_fd, TCSANOW, &t);
    }
    void send(const QByteArray &bytes) { QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size())); }
    // Up to `count` bytes, waiting at most `timeoutMs` for them.
    QByteArray read(int count, int timeoutMs = 5000)
    {
        QByteArray got;
        QElapsedTimer timer;
        timer.start();
        while (got.size() < count && timer.elapsed() < timeoutMs) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, int(timeoutMs - timer.elapsed())) <= 0 || (p.revents & POLLIN) == 0)
                break;
            char buf[256];
            const ssize_t n = ::read(m_fd, buf, size_t(std::min<qsizetype>(count - got.size(), sizeof buf)));
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }
    QByteArray exchange(const QByteArray &out, int answerLength, int timeoutMs = 5000)
    {
        send(out);
        return read(answerLength, timeoutMs);
    }
    // Waits for input, then takes what one read() gives.
    QByteArray readOnce()
    {
        pollfd p{m_fd, POLLIN, 0};
        char buf[64];
        const ssize_t n = poll(&p, 1, 5000) == 1 ? ::read(m_fd, buf, sizeof buf) : 0;
        return QByteArray(buf, n > 0 ? n : 0);
    }
    bool nothingWaiting() const
    {
        pollfd p{m_fd, POLLIN, 0};
        return poll(&p, 1, 0) == 0;
    }
    bool hungUp() const
    {
        pollfd p{m_fd, POLLIN, 0};
        poll(&p, 1, 5000);
        return (p.revents & POLLHUP) != 0;
    }

private:
    int m_fd;
};

SimOptions quick(unsigned records = 4)
{
    SimOptions o;
    o.records = records;
    o.seed = 9;
    o.eraseMs = 20;
    o.trailerDelayMs = 10;
    return o;
}

std::unique_ptr<UnitSimulator> startUnit(const SimOptions &o)
{
    auto unit = std::make_unique<UnitSimulator>(o);
    unit->start();
    return unit;
}

bool reportShows(const UnitSimulator &unit, const std::function<bool(const SimReport &)> &condition)
{
    return QTest::qWaitFor([&] { return condition(unit.report()); }, 5000);
}

// Reads the unit's firmware as the application does: the first block has a leading byte,
// a bad block is answered 0x15 and comes again as 16 bytes, the end block is not answered,
// the trailer is. `nakValid` answers that reception 0x15 although it is valid.
struct BackupRun
{
    QByteArray image;
    int naks = 0;
    bool complete = false;
};
BackupRun hostBackup(Host &h, int nakValid = 0)
{
    BackupRun run;
    if (h.exchange("A", 2) != QByteArray("\x06\x05"))
        return run;
    QByteArray block = h.exchange(ACK, 17).mid(1);
    for (int reception = 1; block.size() == 16 && reception < 50; ++reception) {
        if (isEndRecord(raw(block))) {
            run.image += block;
            const QByteArray trailer = h.read(4);
            run.image += trailer;
            h.send(ACK);
            run.complete = trailer.size() == 4;
            return run;
        }
        const bool good = isValidRecord(raw(block)) && reception != nakValid;
        if (good)
            run.image += block;
        else
            ++run.naks;
        block = h.exchange(good ? ACK : NAK, 16);
    }
    return run;
}

// Writes an image as the application does, restarting from the link exchange when the
// trailer is answered 0x15. `bad` is sent once, before record `badAt`, in the first pass.
struct UpgradeRun
{
    int recordNaks = 0;
    int trailerNaks = 0;
    bool complete = false;
};
UpgradeRun hostUpgrade(Host &h, const QByteArray &image, const QByteArray &bad = {}, int badAt = -1)
{
    UpgradeRun run;
    for (int pass = 0; pass < 4; ++pass) {
        if (h.exchange(ENQ, 1) != ACK || h.exchange("B", 1) != ACK)
            return run;
        for (int i = 0; i + 20 <= image.size(); i += 16) {
            if (pass == 0 && i / 16 == badAt && h.exchange(bad, 1) != NAK)
                return run;
            QByteArray answer = h.exchange(image.mid(i, 16), 1);
            for (int tries = 0; answer == NAK && tries < 5; ++tries) {
                ++run.recordNaks;
                answer = h.exchange(image.mid(i, 16), 1);
            }
            if (answer != ACK)
                return run;
        }
        const QByteArray final = h.exchange(image.right(4), 1);
        if (final == ACK) {
            run.complete = true;
            return run;
        }
        if (final != NAK)
            return run;
        ++run.trailerNaks;
    }
    return run;
}

/// Links, then either erases and sends the first record of `image` and then
/// its second, or asks for the backup, takes the first block and asks for the second.
void toSecondFrame(Host &h, bool upgrade, const QByteArray &image)
{
    QCOMPARE(h.exchange(ENQ, 1), ACK);
    if (upgrade) {
        QCOMPARE(h.exchange("B", 1), ACK);
        QCOMPARE(h.exchange(image.left(16), 1), ACK);
        h.send(image.mid(16, 16));
    } else {
        QCOMPARE(h.exchange("A", 2), QByteArray("\x06\x05"));
        QCOMPARE(h.exchange(ACK, 17).size(), 17);
        h.send(ACK);
    }
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
private slots:
    void recordChecks_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("end");
        QTest::newRow("1..13") << QByteArray::fromHex("0102030405060708090a0b0c0d" "005b01") << true << false;
        QTest::newRow("all FF data") << QByteArray::fromHex("ffffffffffffffffffffffffff" "0cf3ff") << true << false;
        QTest::newRow("zeros") << QByteArray(16, '\0') << true << false;
        QTest::newRow("xor off") << QByteArray::fromHex("0102030405060708090a0b0c0d" "005b00") << false << false;
        QTest::newRow("sumHi off") << QByteArray::fromHex("0102030405060708090a0b0c0d" "015b01") << false << false;
        QTest::newRow("end record") << QByteArray::fromHex("0102030405060708090a0b0c0d" "ffffff") << false << true;
        QTest::newRow("almost end") << QByteArray::fromHex("ffffffffffffffffffffffffff" "fffffe") << false << false;
    }
    void recordChecks()
    {
        QFETCH(QByteArray, record);
        QFETCH(bool, valid);
        QFETCH(bool, end);
        QCOMPARE(isValidRecord(raw(record)), valid);
        QCOMPARE(isEndRecord(raw(record)), end);
        QByteArray sealed = record;
        sealRecord(reinterpret_cast<std::uint8_t *>(sealed.data()));
        QVERIFY(isValidRecord(raw(sealed)));
        if (valid)
            QCOMPARE(sealed, record);
    }

    void generatedImage_data()
    {
        QTest::addColumn<unsigned>("records");
        QTest::newRow("none") << 0u;
        QTest::newRow("one") << 1u;
        QTest::newRow("full size") << 5041u;
    }
    void generatedImage()
    {
        QFETCH(unsigned, records);
        const QByteArray image = qbytes(generateImage(records, 4));
        QCOMPARE(image.size(), qsizetype(16 * records + 20));
        for (unsigned r = 0; r < records; ++r)
            QVERIFY2(isValidRecord(raw(image.mid(16 * r, 16))), qPrintable(QString::number(r)));
        QVERIFY(isEndRecord(raw(image.mid(16 * records, 16))));
        QCOMPARE(qbytes(generateImage(records, 4)), image);
        QVERIFY(qbytes(generateImage(records, 5)) != image);

        const BackupContent content = backupContent(generateImage(records, 4));
        QCOMPARE(content.blocks.size(), size_t(records + 1));
        QCOMPARE(qbytes(content.trailer), image.right(4));

        if (records > 0) {
            const QByteArray damaged = qbytes(damageImage(generateImage(records, 4), records));
            int differing = 0;
            for (unsigned r = 0; r <= records; ++r)
                differing += damaged.mid(16 * r, 16) != image.mid(16 * r, 16);
            QCOMPARE(differing, 1);
            QVERIFY(!isValidRecord(raw(damaged.mid(16 * (records / 2), 16))));
            QVERIFY(!isEndRecord(raw(damaged.mid(16 * (records / 2), 16))));
        }
    }

    // Memory that holds no end record reads on as erased: an end record and an FF trailer.
    void erasedMemoryReadsAsEndRecord()
    {
        const BackupContent empty = backupContent({});
        QCOMPARE(empty.blocks.size(), size_t(1));
        QCOMPARE(qbytes(empty.blocks[0]), QByteArray(16, '\xff'));
        QCOMPARE(qbytes(empty.trailer), QByteArray(4, '\xff'));
        Bytes half = generateImage(2, 1);
        half.resize(32);
        QCOMPARE(backupContent(half).blocks.size(), size_t(3));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("dump");
        QTest::newRow("defaults") << QStringList{} << true << "19200 19200 30 1500 5041 1 0";
        QTest::newRow("values") << QStringList{"--probe-speed", "1200", "--answer-len=31", "--erase-ms", "7", "--records",
                                               "3", "--seed", "4294967295", "--nak-trailer", "2"}
                                << true << "1200 19200 31 7 3 4294967295 2";
        QTest::newRow("any transfer speed") << QStringList{"--transfer-speed", "0"} << true << "19200 0 30 1500 5041 1 0";
        QTest::newRow("odd speed") << QStringList{"--probe-speed", "1234"} << false << "";
        QTest::newRow("no probe speed") << QStringList{"--probe-speed", "0"} << false << "";
        QTest::newRow("unknown") << QStringList{"--bogus"} << false << "";
        QTest::newRow("missing value") << QStringList{"--records"} << false << "";
        QTest::newRow("not a number") << QStringList{"--garbage", "5x"} << false << "";
        QTest::newRow("negative") << QStringList{"--garbage", "-1"} << false << "";
        QTest::newRow("flag with value") << QStringList{"--pace=1"} << false << "";
        QTest::newRow("seed too big") << QStringList{"--seed", "4294967296"} << false << "";
        QTest::newRow("bare word") << QStringList{"pace"} << false << "";
    }
    void options()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        QFETCH(QString, dump);
        std::vector<std::string> argv;
        for (const QString &a : args)
            argv.push_back(a.toStdString());
        SimOptions o;
        std::string error;
        QCOMPARE(parseArguments(argv, o, error), ok);
        QCOMPARE(error.empty(), ok);
        if (ok)
            QCOMPARE(QString("%1 %2 %3 %4 %5 %6 %7")
                         .arg(o.probeSpeed).arg(o.transferSpeed).arg(o.answerLength).arg(o.eraseMs)
                         .arg(o.records).arg(o.seed).arg(o.nakTrailer),
                     dump);
    }

    // The probe is answered only at the configured speed; the link request behind it
    // proves the probe was handled before the test looks.
    void probe_data()
    {
        QTest::addColumn<unsigned>("probeSpeed");
        QTest::addColumn<unsigned>("hostSpeed");
        QTest::addColumn<unsigned>("answerLength");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<bool>("inBaud");
        const bool constant = false;
        QTest::newRow("19200 at 19200") << 19200u << 19200u << 30u << true << constant;
        QTest::newRow("19200 at 9600") << 19200u << 9600u << 30u << false << constant;
        QTest::newRow("1200 at 1200") << 1200u << 1200u << 30u << true << constant;
        QTest::newRow("1200 at 19200") << 1200u << 19200u << 30u << false << constant;
        QTest::newRow("31 bytes") << 19200u << 19200u << 31u << true << constant;
        // Set in baud through termios2, as Wine sets it: the classic speed reads 0.
        QTest::newRow("110 at 110 in baud") << 110u << 110u << 30u << true << true;
        QTest::newRow("1200 at 9600 in baud") << 1200u << 9600u << 30u << false << true;
    }
    void probe()
    {
        QFETCH(unsigned, probeSpeed);
        QFETCH(unsigned, hostSpeed);
        QFETCH(unsigned, answerLength);
        QFETCH(bool, answered);
        QFETCH(bool, inBaud);
        SimOptions o = quick();
        o.probeSpeed = probeSpeed;
        o.answerLength = answerLength;
        o.transferSpeed = 0;
        auto unit = startUnit(o);
        Host h(unit->slavePath(), hostSpeed, inBaud ? Host::SpeedAs::Baud : Host::SpeedAs::Constant);
        QVERIFY(h.isOpen());
        h.send(PROBE + ENQ);
        const QByteArray got = h.read(answered ? int(answerLength) + 1 : 1);
        QCOMPARE(got.size(), answered ? qsizetype(answerLength) + 1 : 1);
        QCOMPARE(got.right(1), ACK);
        const SimReport r = unit->report();
        QCOMPARE(r.probesReceived, 1u);
        QCOMPARE(r.probesAnswered, answered ? 1u : 0u);
        QCOMPARE(r.probeSpeedsReceived, std::vector<unsigned>{hostSpeed});
    }

    void silentUnitAnswersNothing()
    {
        SimOptions o = quick();
        o.silent = true;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        h.send(ENQ + "AB" + PROBE);
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.probesReceived == 1; }));
        QVERIFY(h.nothingWaiting());
        const SimReport r = unit->report();
        QCOMPARE(r.linkRequests, 1u);
        QCOMPARE(r.linkAnswers, 0u);
        QCOMPARE(r.readRequests + r.eraseRequests, 2u);
    }

    void linkRequestsEachAnswered()
    {
        SimOptions o = quick();
        o.garbage = 5;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        const QByteArray first = h.exchange(ENQ + ENQ + ENQ, 8);
        QCOMPARE(first.size(), 8);
        QVERIFY(!first.left(5).contains(ACK));
        QCOMPARE(first.mid(5), ACK + ACK + ACK);
        QCOMPARE(h.exchange(ENQ, 1), ACK); // the noise comes only once
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.linkAnswers == 4; }));
        QCOMPARE(unit->report().garbageSent, 5u);
    }

    // A host at another line speed reaches the unit garbled: no answer.
    void exchangesNeedTransferSpeed()
    {
        auto unit = startUnit(quick());
        Host h(unit->slavePath(), 9600);
        h.send(ENQ);
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.wrongSpeedBytes == 1; }));
        h.setSpeed(19200);
        QCOMPARE(h.exchange(ENQ, 1), ACK);
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.linkAnswers == 1; }));
        QCOMPARE(unit->report().wrongSpeedBytes, 1u);
    }

    void powerUpDelaysTheLinkButNotTheProbe()
    {
        SimOptions o = quick();
        o.powerUpAfterMs = 300;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        QElapsedTimer timer;
        timer.start();
        h.send(ENQ);
        QCOMPARE(h.exchange(PROBE, 30).size(), 30);
        QByteArray answer;
        for (int i = 0; i < 250 && answer.isEmpty(); ++i)
            answer = h.exchange(ENQ, 1, 20);
        QCOMPARE(answer, ACK);
        QVERIFY(timer.elapsed() >= 300);
        QVERIFY(unit->report().linkIgnoredPoweringUp >= 1);
    }

    void backup_data()
    {
        QTest::addColumn<unsigned>("corruptBlock");
        QTest::addColumn<int>("hostNaks"); // reception the host rejects although valid
        QTest::addColumn<int>("naks");
        QTest::newRow("clean") << 0u << 0 << 0;
        QTest::newRow("host rejects the first block") << 0u << 1 << 1;
        QTest::newRow("host rejects block 3") << 0u << 3 << 1;
        QTest::newRow("first block corrupt") << 1u << 0 << 1;
        QTest::newRow("block 3 corrupt") << 3u << 0 << 1;
        QTest::newRow("end block corrupt") << 5u << 0 << 1;
    }
    void backup()
    {
        QFETCH(unsigned, corruptBlock);
        QFETCH(int, hostNaks);
        QFETCH(int, naks);
        SimOptions o = quick(4);
        o.corruptBlock = corruptBlock;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        QCOMPARE(h.exchange(ENQ, 1), ACK);
        const BackupRun run = hostBackup(h, hostNaks);
        QVERIFY(run.complete);
        QCOMPARE(run.image, qbytes(generateImage(4, 9)));
        QCOMPARE(run.naks, naks);
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.backupCompleted; }));
        // Nothing stray on the line: the next link request gets exactly its 0x06.
        QCOMPARE(h.exchange(ENQ, 2, 200), ACK);
        const SimReport r = unit->report();
        QCOMPARE(r.blocksSent, unsigned(5 + naks));
        QCOMPARE(r.naksReceived, unsigned(naks));
        QCOMPARE(r.blockAcks, 4u);
        QCOMPARE(r.goAheads, 1u);
        QCOMPARE(r.endBlockAnswers, 0u);
        QCOMPARE(r.backupTrailersSent, 1u);
        QCOMPARE(r.corruptBlocksSent, corruptBlock ? 1u : 0u);
    }

    // The host's stream of read requests is answered once; the rest must not land in the blocks.
    void repeatedReadRequestsAnsweredOnce()
    {
        auto unit = startUnit(quick(1));
        Host h(unit->slavePath());
        QCOMPARE(h.exchange("AAA", 2), QByteArray("\x06\x05"));
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.readRequests == 3; }));
        const QByteArray first = h.exchange(ACK, 17);
        QCOMPARE(first.mid(1), qbytes(generateImage(1, 9)).left(16));
        QCOMPARE(unit->report().readRequestsAnswered, 1u);
    }

    void ackAndEnqInOneWrite()
    {
        SimOptions o = quick();
        o.ackEnqTogether = true;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        h.send("A");
        QCOMPARE(h.readOnce(), QByteArray("\x06\x05"));
    }

    // The USB adapter model. With a fixed tick, messages sent back to back reach
    // the host in one read (three link answers; the end block and the trailer),
    // where a unit pausing before the trailer gives the end block alone; random
    // bursts cut blocks. Every byte arrives, in order.
    void adapterBursts_data()
    {
        QTest::addColumn<unsigned>("latencyMs");
        QTest::addColumn<unsigned>("burstSeed");
        QTest::addColumn<int>("endRead"); // first read after the last block's 0x06 (0: any size)
        QTest::newRow("no adapter, pause before the trailer") << 0u << 0u << 16;
        for (unsigned latency : {1u, 16u, 32u})
            QTest::addRow("latency %u ms", latency) << latency << 0u << 20;
        QTest::newRow("burst seed 5") << 0u << 5u << 0;
    }
    void adapterBursts()
    {
        QFETCH(unsigned, latencyMs);
        QFETCH(unsigned, burstSeed);
        QFETCH(int, endRead);
        SimOptions o = quick(40);
        o.latencyMs = latencyMs;
        o.burstSeed = burstSeed;
        o.trailerDelayMs = endRead == 16 ? 50 : 0;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        h.send(ENQ + ENQ + ENQ);
        const QByteArray answers = h.readOnce();
        QCOMPARE(answers + h.read(int(3 - answers.size())), ACK + ACK + ACK);
        QCOMPARE(h.exchange("A", 2), QByteArray("\x06\x05"));
        QByteArray image = h.exchange(ACK, 17).mid(1);
        while (image.size() < 40 * 16)
            image += h.exchange(ACK, 16);
        h.send(ACK); // for the last record: the end block and the trailer follow unanswered
        const QByteArray end = h.readOnce();
        image += end + h.read(int(20 - end.size()));
        h.send(ACK);
        QCOMPARE(image, qbytes(generateImage(40, 9)));
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.backupCompleted; }));
        if (latencyMs > 0)
            QCOMPARE(answers, ACK + ACK + ACK); // in one read
        if (endRead > 0)
            QCOMPARE(end.size(), qsizetype(endRead));
        QCOMPARE(unit->report().adapterCuts > 0, burstSeed > 0);
    }

    void upgrade_data()
    {
        QTest::addColumn<unsigned>("nakRecord");
        QTest::addColumn<unsigned>("nakTrailer");
        QTest::addColumn<int>("badAt");
        QTest::newRow("clean") << 0u << 0u << -1;
        QTest::newRow("bad record before record 3") << 0u << 0u << 2;
        QTest::newRow("record 2 refused once") << 2u << 0u << -1;
        QTest::newRow("end record refused once") << 6u << 0u << -1;
        QTest::newRow("trailer refused once") << 0u << 1u << -1;
        QTest::newRow("trailer refused twice") << 0u << 2u << 1;
    }
    void upgrade()
    {
        QFETCH(unsigned, nakRecord);
        QFETCH(unsigned, nakTrailer);
        QFETCH(int, badAt);
        QTemporaryDir dir;
        SimOptions o = quick(3); // the unit's old firmware differs from the new image
        o.nakRecord = nakRecord;
        o.nakTrailer = nakTrailer;
        o.outPath = dir.filePath("out.bin").toStdString();
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        const QByteArray image = qbytes(generateImage(5, 77));
        const QByteArray bad = qbytes(damageImage(generateImage(5, 77), 5)).mid(32, 16);
        const UpgradeRun run = hostUpgrade(h, image, bad, badAt);
        QVERIFY(run.complete);
        QCOMPARE(run.recordNaks, nakRecord ? 1 : 0);
        QCOMPARE(run.trailerNaks, int(nakTrailer));
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.upgradeCompleted; }));
        unit->stop();
        QCOMPARE(readAll(dir.filePath("out.bin")), image);
        const SimReport r = unit->report();
        const unsigned passes = nakTrailer + 1;
        QCOMPARE(r.eraseRequests, passes);
        QCOMPARE(r.restarts, nakTrailer);
        QCOMPARE(r.trailerNaks, nakTrailer);
        QCOMPARE(r.recordsRejected, badAt >= 0 ? 1u : 0u);
        QCOMPARE(r.recordsNaked, nakRecord ? 1u : 0u);
        QCOMPARE(r.recordsAccepted, 5 * passes);
        QCOMPARE(r.endRecords, passes);
        QCOMPARE(r.recordsReceived, 6 * passes + r.recordsRejected + r.recordsNaked);
        QCOMPARE(r.upgradesCompleted, 1u);
        QCOMPARE(r.firmwareBytes, unsigned(image.size()));
    }

    // Lower bounds only: answers wait for the erase and the turnaround, and paced bytes
    // never beat the wire.
    void answersWaitTheirTime_data()
    {
        QTest::addColumn<unsigned>("eraseMs");
        QTest::addColumn<unsigned>("turnaroundUs");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("atLeastMs");
        QTest::newRow("erase") << 200u << 0u << QByteArray("B") << 200;
        QTest::newRow("turnaround") << 0u << 150000u << ENQ << 150;
    }
    void answersWaitTheirTime()
    {
        QFETCH(unsigned, eraseMs);
        QFETCH(unsigned, turnaroundUs);
        QFETCH(QByteArray, request);
        QFETCH(int, atLeastMs);
        SimOptions o = quick();
        o.eraseMs = eraseMs;
        o.turnaroundUs = turnaroundUs;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(h.exchange(request, 1), ACK);
        QVERIFY(timer.elapsed() >= atLeastMs);
        QCOMPARE(unit->firmware().empty(), request == "B");
    }

    // Slow links as the options describe them: each answer leaves the turnaround
    // after its own request while the unit goes on listening (ten requests 20 ms
    // apart are answered in about 430 ms, not 2.5 s one after the other); an
    // adapter tick of 255 ms hands them over in one or two reads. The one upper
    // bound here only tells the two models apart.
    void slowLinkModels_data()
    {
        QTest::addColumn<unsigned>("turnaroundMs");
        QTest::addColumn<unsigned>("latencyMs");
        QTest::addColumn<int>("mostReads");
        QTest::newRow("turnaround 250 ms") << 250u << 0u << 10;
        QTest::newRow("tick 255 ms") << 0u << 255u << 2;
        QTest::newRow("turnaround 250 ms, tick 255 ms") << 250u << 255u << 3;
    }
    void slowLinkModels()
    {
        QFETCH(unsigned, turnaroundMs);
        QFETCH(unsigned, latencyMs);
        QFETCH(int, mostReads);
        SimOptions o = quick();
        o.turnaroundUs = turnaroundMs * 1000;
        o.latencyMs = latencyMs;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        QElapsedTimer timer;
        timer.start();
        QList<qint64> sentAt;
        for (int i = 0; i < 10; ++i) {
            while (timer.elapsed() < 20 * i)
                QThread::usleep(500);
            sentAt << timer.elapsed();
            h.send(ENQ);
        }
        QByteArray answers;
        int reads = 0;
        while (answers.size() < 10 && timer.elapsed() < 5000) {
            const QByteArray got = h.readOnce();
            if (got.isEmpty())
                break;
            if (answers.isEmpty())
                QVERIFY(timer.elapsed() >= sentAt[0] + turnaroundMs); // not before its turnaround
            answers += got;
            ++reads;
        }
        QCOMPARE(answers, QByteArray(10, '\x06'));
        QVERIFY2(reads <= mostReads, qPrintable(QString::number(reads)));
        // Answered one after another, the last answer would come nine turnarounds
        // after the last request; on the unit's own clocks it comes one
        // turnaround (and a tick) after it. The bound lies well between, and is
        // counted from the last request, so a late sender does not eat into it.
        const qint64 bound = sentAt.last() + 5 * qint64(turnaroundMs) + qint64(latencyMs) + 500;
        QVERIFY2(timer.elapsed() < bound, qPrintable(QStringLiteral("%1 ms, bound %2 ms").arg(timer.elapsed()).arg(bound)));
    }

    // A unit that takes the byte after its 0x05 as the go-ahead gives the read up
    // when that byte is a late "A".
    void lateReadRequestDropsTheRead()
    {
        SimOptions o = quick(1);
        o.dropReadOnLateA = true;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        QCOMPARE(h.exchange("A", 2), QByteArray("\x06\x05"));
        h.send("A" + ACK);
        // The go-ahead then finds the unit idle: no block follows it.
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.readsDropped == 1 && r.unexpectedBytes == 1; }));
        QVERIFY(h.nothingWaiting());
        QCOMPARE(unit->report().goAheads, 0u);
    }

    // A unit loaded from an image file gives back that image, without what follows the trailer.
    void firmwareFromFile()
    {
        QTemporaryDir dir;
        const QByteArray image = qbytes(generateImage(2, 11));
        QFile f(dir.filePath("unit.bio"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(image + "tail");
        f.close();
        SimOptions o = quick();
        o.firmwarePath = f.fileName().toStdString();
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        const BackupRun run = hostBackup(h);
        QVERIFY(run.complete);
        QCOMPARE(run.image, image);
    }

    void pacingChargesLineTime()
    {
        SimOptions o = quick();
        o.pace = true;
        o.probeSpeed = 1200;
        o.transferSpeed = 0;
        auto unit = startUnit(o);
        Host h(unit->slavePath(), 1200);
        const double byteMs = 10 * 1000.0 / 1200;
        QElapsedTimer timer;
        timer.start();
        h.send(PROBE);
        QCOMPARE(h.read(1).size(), 1);
        QVERIFY(timer.elapsed() >= 2 * byteMs - 1); // the probe's line time, then the first answer byte
        QCOMPARE(h.read(29).size(), 29);
        QVERIFY(timer.elapsed() >= 31 * byteMs - 1);
        timer.restart();
        QCOMPARE(h.exchange(ENQ + ENQ + ENQ + ENQ + ENQ, 5), QByteArray(5, '\x06'));
        QVERIFY(timer.elapsed() >= 6 * byteMs - 1); // five requests in, one answer out
    }

    void hangUpFaults_data()
    {
        QTest::addColumn<bool>("atRecord");
        QTest::newRow("at block 2") << false;
        QTest::newRow("at record 2") << true;
    }
    void hangUpFaults()
    {
        QFETCH(bool, atRecord);
        SimOptions o = quick(3);
        (atRecord ? o.hangupAtRecord : o.hangupAtBlock) = 2;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        const QByteArray image = qbytes(generateImage(2, 5));
        toSecondFrame(h, atRecord, image);
        QVERIFY(h.hungUp());
        QVERIFY(QTest::qWaitFor([&] { return unit->finished(); }, 5000));
        const SimReport r = unit->report();
        QCOMPARE(QString::fromStdString(r.endReason), atRecord ? "hangup-at-record" : "hangup-at-block");
        QCOMPARE(r.blocksSent, atRecord ? 0u : 1u);
        QCOMPARE(r.recordsAccepted, atRecord ? 1u : 0u);
        if (atRecord)
            QCOMPARE(qbytes(unit->firmware()), image.left(16));
    }

    void silentFaults_data()
    {
        QTest::addColumn<bool>("afterRecord");
        QTest::newRow("after block 1") << false;
        QTest::newRow("after record 1") << true;
    }
    void silentFaults()
    {
        QFETCH(bool, afterRecord);
        SimOptions o = quick(3);
        (afterRecord ? o.silentAfterRecord : o.silentAfterBlock) = 1;
        auto unit = startUnit(o);
        Host h(unit->slavePath());
        const QByteArray image = qbytes(generateImage(2, 5));
        toSecondFrame(h, afterRecord, image);
        h.send(ENQ + PROBE); // handled after everything before them
        const unsigned probes = 1 + (afterRecord ? unsigned(image.mid(16, 16).count('\x02')) : 0);
        QVERIFY(reportShows(*unit, [probes](const SimReport &r) { return r.probesReceived == probes; }));
        QVERIFY(h.nothingWaiting());
        QVERIFY(unit->report().silent);
    }

    // Closing the port and opening it again at once (the port test, then the
    // transfer) does not cut off the exchange that the new session starts: the
    // mark of the close comes due only after the new upgrade has begun.
    void reopenAtOnceKeepsTheNewExchange()
    {
        QTemporaryDir dir;
        SimOptions o = quick(3);
        o.outPath = dir.filePath("out.bin").toStdString();
        auto unit = startUnit(o);
        {
            Host h(unit->slavePath());
            QCOMPARE(h.exchange(ENQ, 1), ACK);
        }
        Host h(unit->slavePath());
        const QByteArray image = qbytes(generateImage(5, 77));
        const UpgradeRun run = hostUpgrade(h, image, QByteArray(), -1);
        QVERIFY(run.complete);
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.upgradeCompleted && r.hostHangups == 1; }));
        unit->stop();
        QCOMPARE(unit->report().exchangesAbandoned, 0u);
        QCOMPARE(readAll(dir.filePath("out.bin")), image);
    }

    // Closing the port in the middle of a backup leaves the unit idle; reopening works.
    void hostClosesAndReopens()
    {
        auto unit = startUnit(quick(3));
        {
            Host h(unit->slavePath());
            QCOMPARE(h.exchange(ENQ, 1), ACK);
            QCOMPARE(h.exchange("A", 2), QByteArray("\x06\x05"));
            QCOMPARE(h.exchange(ACK, 17).size(), 17);
        }
        for (int i = 0; i < 3; ++i) {
            Host h(unit->slavePath());
            QByteArray answer;
            for (int tries = 0; tries < 25 && answer.isEmpty(); ++tries)
                answer = h.exchange(ENQ, 1, 200);
            QCOMPARE(answer, ACK);
        }
        QVERIFY(reportShows(*unit, [](const SimReport &r) { return r.hostHangups == 4; }));
        const SimReport r = unit->report();
        QCOMPARE(r.hostOpens, 4u);
        QCOMPARE(r.exchangesAbandoned, 1u);
        QCOMPARE(r.backupCompleted, false);
    }

    void reportText()
    {
        SimReport r;
        r.probeSpeed = 19200;
        r.probeSpeedsReceived = {110, 19200};
        r.probeSpeedsAnswered = {19200};
        r.restarts = 2;
        r.upgradeCompleted = true;
        const QStringList lines = QString::fromStdString(r.toText()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 44);
        for (const QString &line : lines)
            QVERIFY2(QRegularExpression("^[a-z_]+=[a-z0-9,-]*$").match(line).hasMatch(), qPrintable(line));
        QVERIFY(lines.contains("probe_speeds_received=110,19200"));
        QVERIFY(lines.contains("probe_speeds_answered=19200"));
        QVERIFY(lines.contains("restarts=2"));
        QVERIFY(lines.contains("upgrade_completed=yes"));
        QVERIFY(lines.contains("backup_completed=no"));
        QVERIFY(lines.contains("end_reason=running"));
    }

    // The program: slave path on the first line, the link, a report and the firmware on SIGTERM.
    void programRunsUntilTerminated()
    {
        const QString program = qEnvironmentVariable("K410_SIM");
        QVERIFY2(!program.isEmpty(), "K410_SIM names the k410-sim program");
        QTemporaryDir dir;
        QProcess sim;
        sim.start(program, {"--records", "2", "--seed", "3", "--link", dir.filePath("ttyK410"), "--report",
                            dir.filePath("report.txt"), "--out", dir.filePath("out.bio")});
        QVERIFY(sim.waitForReadyRead(5000));
        const QString slave = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QVERIFY(slave.startsWith("/dev/pts/"));
        QCOMPARE(QFileInfo(dir.filePath("ttyK410")).symLinkTarget(), slave);
        {
            Host h(dir.filePath("ttyK410").toStdString());
            QVERIFY(h.isOpen());
            QCOMPARE(h.exchange(ENQ, 1), ACK);
        }
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
        const QByteArray report = readAll(dir.filePath("report.txt"));
        QVERIFY(report.contains("\nlink_answers=1\n"));
        QVERIFY(report.contains("\nend_reason=stopped\n"));
        QCOMPARE(readAll(dir.filePath("out.bio")), qbytes(generateImage(2, 3)));
        QVERIFY(!QFileInfo(dir.filePath("ttyK410")).isSymLink());
    }

    void programWritesImages()
    {
        const QString program = qEnvironmentVariable("K410_SIM");
        QVERIFY(!program.isEmpty());
        QTemporaryDir dir;
        QCOMPARE(QProcess::execute(program, {"--records", "6", "--seed", "8", "--write-image", dir.filePath("a.bio"),
                                             "--write-damaged", dir.filePath("b.bio")}),
                 0);
        const QByteArray good = readAll(dir.filePath("a.bio"));
        QCOMPARE(good, qbytes(generateImage(6, 8)));
        QCOMPARE(readAll(dir.filePath("b.bio")), qbytes(damageImage(generateImage(6, 8), 6)));
        QCOMPARE(QProcess::execute(program, {"--probe-speed", "1234"}), 2);
    }

    void programEndsAtHangUpFault()
    {
        const QString program = qEnvironmentVariable("K410_SIM");
        QVERIFY(!program.isEmpty());
        QTemporaryDir dir;
        QProcess sim;
        sim.start(program, {"--records", "2", "--hangup-at-block", "1", "--report", dir.filePath("r.txt")});
        QVERIFY(sim.waitForReadyRead(5000));
        Host h(QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString());
        QCOMPARE(h.exchange("A", 2), QByteArray("\x06\x05"));
        h.send(ACK);
        QVERIFY(h.hungUp());
        QVERIFY(sim.waitForFinished(5000));
        QVERIFY(readAll(dir.filePath("r.txt")).contains("\nend_reason=hangup-at-block\n"));
    }
};

int runSimTests(int argc, char **argv)
{
    TestSim suite;
    return QTest::qExec(&suite, argc, argv);
}
#include "test_sim.moc"
