#pragma once
/// The way from the unit to the host. Each byte the unit sends leaves the line once its
/// turnaround and line time are over. With no adapter modelled it reaches the host at
/// once; through a USB adapter (--latency-ms, --burst-seed) it waits in the adapter's
/// buffer until the adapter hands what it holds to the host in one burst: at the end of
/// its latency tick, or, with random bursts, 1 to 64 bytes at a random tick end. Bytes of
/// two messages can so arrive in one read, and one message in two.
///
/// Plain time arithmetic: the caller says what time it is, writes what falls due to the
/// host, and waits until nextDue(). Nothing here reads a clock or touches a descriptor.

#include "SimImage.h"

#include <chrono>
#include <deque>
#include <optional>
#include <random>

namespace k410sim {

class UsbAdapter
{
public:
    using Clock = std::chrono::steady_clock;

    /// What the host receives in one write.
    struct Delivery
    {
        Bytes bytes;
        bool burst = false;  ///< handed over by the adapter (not straight off the line)
        bool merged = false; ///< holds bytes of two or more messages
        bool cut = false;    ///< its last message goes on in a later write (held, or still on the line)
    };

    /// `latencyMs`: the adapter's tick (0: none). `burstSeed`: random bursts, each held
    /// up to the tick or 32 ms (0: off). With neither there is no adapter on the line.
    /// The tick clock runs from `origin`.
    UsbAdapter(unsigned latencyMs, unsigned burstSeed, Clock::time_point origin = Clock::now());

    /// Whether an adapter sits between the line and the host.
    bool modelled() const { return m_latencyMs > 0 || m_burstSeed != 0; }

    /// Puts one message on the line: its bytes leave `byteTime` apart, the first one
    /// `byteTime` after `start`, and never before the bytes sent earlier have left.
    void send(const Bytes &message, Clock::time_point start, Clock::duration byteTime);

    /// The next write to the host that is due at `now`, taken out; nothing when none is.
    /// Call again until it returns nothing.
    std::optional<Delivery> due(Clock::time_point now);
    /// When something falls due next: a byte leaving the line or a burst; nothing while
    /// neither the line nor the adapter holds a byte.
    std::optional<Clock::time_point> nextDue() const;

    /// Whether bytes sent are still on the line (in their turnaround or line time).
    bool onLine() const { return !m_line.empty(); }
    /// When the last byte sent leaves the line.
    Clock::time_point lineFreeAt() const { return m_lineFree; }

private:
    /// One byte on its way: which message it belongs to, and when it leaves the line.
    struct Byte
    {
        std::uint8_t value = 0;
        unsigned message = 0;
        Clock::time_point at;
    };

    Clock::time_point tickEnd(Clock::time_point t, Clock::duration tick) const;
    void schedule();

    const unsigned m_latencyMs;
    const unsigned m_burstSeed;
    const Clock::time_point m_tickOrigin; // the adapter's free-running tick clock
    std::mt19937 m_rng;
    std::deque<Byte> m_line;              // sent, still in turnaround or line time, oldest first
    std::deque<Byte> m_held;              // the adapter's buffer, oldest first
    std::optional<Clock::time_point> m_deliverAt; // next burst, while bytes are held
    Clock::time_point m_lineFree{};
    unsigned m_messages = 0;
};

} // namespace k410sim
