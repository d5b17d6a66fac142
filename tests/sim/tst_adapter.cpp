// The simulator's way from the unit to the host, in virtual time: bytes leave the line
// after their turnaround and line time, and a USB adapter hands them over at its tick
// ends or in random bursts. Driven the way the simulator drives it (wait until
// nextDue(), take what is due), with no clock and no device, so every bound is exact.

#include "UsbAdapter.h"

#include <QTest>

#include <algorithm>
#include <random>
#include <vector>

using namespace k410sim;
using namespace std::chrono_literals;
using Clock = UsbAdapter::Clock;

namespace {

const Clock::time_point t0{};

struct Handed
{
    Clock::time_point at;
    UsbAdapter::Delivery delivery;
};

/// Everything the adapter hands over, each with the time it fell due.
std::vector<Handed> runOut(UsbAdapter &adapter)
{
    std::vector<Handed> handed;
    while (const auto next = adapter.nextDue()) {
        while (auto d = adapter.due(*next))
            handed.push_back({*next, std::move(*d)});
    }
    return handed;
}

/// One byte the unit sent: which message, and when its line time was over.
struct SentByte
{
    std::uint8_t value;
    unsigned message;
    Clock::time_point arrived;
};

} // namespace

class TestUsbAdapter : public QObject
{
    Q_OBJECT
private slots:
    // A long exchange of messages of 1 to 40 bytes at 19200 baud, some back to back:
    // every byte reaches the host once, in order, never before it left the line and
    // never later than the adapter's hold after; ticks hand over at tick ends; random
    // bursts take 1 to 64 bytes; merged and cut say where messages were joined and split.
    void everyByteOnceInOrderWithinTheHold_data()
    {
        QTest::addColumn<unsigned>("latencyMs");
        QTest::addColumn<unsigned>("seed");
        QTest::newRow("no adapter") << 0u << 0u;
        for (const unsigned latency : {1u, 16u, 255u})
            QTest::addRow("tick %u ms", latency) << latency << 0u;
        for (const unsigned seed : {1u, 2u, 3u}) {
            QTest::addRow("bursts, seed %u", seed) << 0u << seed;
            QTest::addRow("bursts held up to 16 ms, seed %u", seed) << 16u << seed;
        }
    }
    void everyByteOnceInOrderWithinTheHold()
    {
        QFETCH(unsigned, latencyMs);
        QFETCH(unsigned, seed);
        UsbAdapter a(latencyMs, seed, t0);
        const auto byteTime = std::chrono::microseconds(520);
        std::mt19937 rng(77);
        std::vector<SentByte> sent;
        Clock::time_point lineFree = t0;
        Clock::time_point start = t0;
        for (unsigned m = 1; m <= 300; ++m) {
            start += std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 20)(rng));
            Bytes message(std::uniform_int_distribution<unsigned>(1, 40)(rng));
            for (std::uint8_t &b : message)
                b = std::uint8_t(rng());
            a.send(message, start, byteTime);
            auto at = std::max(start, lineFree);
            for (const std::uint8_t b : message) {
                at += byteTime;
                sent.push_back({b, m, at});
            }
            lineFree = at;
        }
        QCOMPARE(a.lineFreeAt(), lineFree);

        const std::vector<Handed> handed = runOut(a);
        const auto hold = latencyMs > 0 ? std::chrono::milliseconds(latencyMs) : seed ? 32ms : 0ms;
        std::size_t i = 0;
        int cuts = 0;
        int merges = 0;
        for (const Handed &h : handed) {
            const Bytes &bytes = h.delivery.bytes;
            QVERIFY(!bytes.empty());
            QCOMPARE(h.delivery.burst, latencyMs > 0 || seed > 0);
            if (seed > 0)
                QVERIFY2(bytes.size() <= 64, qPrintable(QString::number(bytes.size())));
            else if (latencyMs > 0)
                QCOMPARE((h.at - t0) % std::chrono::milliseconds(latencyMs), Clock::duration::zero());
            QVERIFY(i + bytes.size() <= sent.size());
            for (std::size_t k = 0; k < bytes.size(); ++k) {
                const SentByte &s = sent[i + k];
                QCOMPARE(bytes[k], s.value);
                QVERIFY(h.at >= s.arrived);
                QVERIFY(h.at <= s.arrived + hold + (hold > 0ms ? 1ms : 0ms)); // no adapter: at once
            }
            const std::size_t last = i + bytes.size() - 1;
            if (h.delivery.burst) {
                QCOMPARE(h.delivery.merged, sent[i].message != sent[last].message);
                QCOMPARE(h.delivery.cut, last + 1 < sent.size() && sent[last + 1].message == sent[last].message);
            }
            cuts += h.delivery.cut ? 1 : 0;
            merges += h.delivery.merged ? 1 : 0;
            i += bytes.size();
        }
        QCOMPARE(i, sent.size());
        if (seed > 0)
            QVERIFY(cuts > 0);
        if (a.modelled())
            QVERIFY(merges > 0); // some messages came back to back
        QVERIFY(!a.onLine());
        QCOMPARE(a.nextDue(), std::nullopt);
        QCOMPARE(a.modelled(), latencyMs > 0 || seed > 0);
    }

    // Random bursts come out the same for the same seed, and differently for another.
    void burstsFollowTheirSeed()
    {
        const auto bursts = [](unsigned seed) {
            UsbAdapter a(0, seed, t0);
            for (int m = 0; m < 40; ++m)
                a.send(Bytes(30, std::uint8_t(m)), t0 + std::chrono::milliseconds(5 * m), 0ms);
            std::vector<std::pair<Clock::duration, std::size_t>> out;
            for (const Handed &h : runOut(a))
                out.emplace_back(h.at - t0, h.delivery.bytes.size());
            return out;
        };
        QCOMPARE(bursts(1), bursts(1));
        QVERIFY(bursts(1) != bursts(2));
    }
};

int runAdapterTests(int argc, char **argv)
{
    TestUsbAdapter suite;
    return QTest::qExec(&suite, argc, argv);
}

#include "tst_adapter.moc"
