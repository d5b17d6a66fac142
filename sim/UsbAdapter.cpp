#include "UsbAdapter.h"

#include <algorithm>

namespace k410sim {

namespace {

using namespace std::chrono_literals;

constexpr auto kBurstTick = 1ms;             ///< tick of the adapter's clock when bursts are random
constexpr unsigned kDefaultBurstHoldMs = 32; ///< longest hold of a random burst without a latency
constexpr unsigned kMaxBurst = 64;           ///< largest random burst (one USB packet)

} // namespace

UsbAdapter::UsbAdapter(unsigned latencyMs, unsigned burstSeed, Clock::time_point origin)
    : m_latencyMs(latencyMs), m_burstSeed(burstSeed), m_tickOrigin(origin), m_rng(burstSeed)
{
}

void UsbAdapter::send(const Bytes &message, Clock::time_point start, Clock::duration byteTime)
{
    ++m_messages;
    auto t = std::max(start, m_lineFree);
    for (const std::uint8_t b : message) {
        t += byteTime;
        m_line.push_back(Byte{b, m_messages, t});
    }
    m_lineFree = t;
}

std::optional<UsbAdapter::Delivery> UsbAdapter::due(Clock::time_point now)
{
    // Bytes whose turnaround and line time are over leave the line: straight to the
    // host, all in one write, or into the adapter's buffer.
    Delivery off;
    bool anyOff = false;
    while (!m_line.empty() && m_line.front().at <= now) {
        anyOff = true;
        if (modelled())
            m_held.push_back(m_line.front());
        else
            off.bytes.push_back(m_line.front().value);
        m_line.pop_front();
    }
    if (!modelled())
        return off.bytes.empty() ? std::nullopt : std::optional<Delivery>(std::move(off));
    if (anyOff && !m_deliverAt)
        schedule();

    // A burst takes all the bytes held when it leaves (with a fixed latency), or the
    // next 1 to 64 of them; bytes that reached the adapter after the tick end while the
    // host was not looking go with it, as they do when an adapter's timer fires while a
    // byte is still coming in.
    if (!m_deliverAt || now < *m_deliverAt)
        return std::nullopt;
    std::size_t n = m_held.size();
    if (m_burstSeed != 0)
        n = std::min<std::size_t>(n, std::uniform_int_distribution<unsigned>(1, kMaxBurst)(m_rng));
    Delivery burst;
    burst.burst = true;
    for (std::size_t i = 0; i < n; ++i)
        burst.bytes.push_back(m_held[i].value);
    burst.merged = m_held.front().message != m_held[n - 1].message;
    // The message goes on in the adapter's buffer, or still on the line.
    const Byte *after = n < m_held.size() ? &m_held[n] : m_line.empty() ? nullptr : &m_line.front();
    burst.cut = after && after->message == m_held[n - 1].message;
    m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(n));
    schedule();
    return burst;
}

std::optional<UsbAdapter::Clock::time_point> UsbAdapter::nextDue() const
{
    std::optional<Clock::time_point> next = m_deliverAt;
    if (!m_line.empty() && (!next || m_line.front().at < *next))
        next = m_line.front().at;
    return next;
}

UsbAdapter::Clock::time_point UsbAdapter::tickEnd(Clock::time_point t, Clock::duration tick) const
{
    return m_tickOrigin + ((t - m_tickOrigin) / tick + 1) * tick;
}

// An adapter hands what it has received to the host when its latency timer runs out:
// at the end of the tick in which the oldest byte it holds arrived. With random bursts,
// each burst leaves at a random tick end, but never later than the hold (the latency,
// or 32 ms) after the oldest byte it holds arrived.
void UsbAdapter::schedule()
{
    if (m_held.empty()) {
        m_deliverAt.reset();
        return;
    }
    const Clock::time_point oldest = m_held.front().at;
    if (m_burstSeed == 0) {
        m_deliverAt = tickEnd(oldest, std::chrono::milliseconds(m_latencyMs));
        return;
    }
    const unsigned holdMs = m_latencyMs > 0 ? m_latencyMs : kDefaultBurstHoldMs;
    std::uniform_int_distribution<unsigned> delay(0, holdMs - 1);
    m_deliverAt = tickEnd(oldest + std::chrono::milliseconds(delay(m_rng)), kBurstTick);
}

} // namespace k410sim
