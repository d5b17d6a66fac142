#include "UnitSimulator.h"

#include "PseudoTerminal.h"
#include "UsbAdapter.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <iostream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace k410sim {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint8_t kLeadByte = 0x3A;       ///< the extra byte in front of the first backup block
constexpr auto kMaxPollWait = 100ms;           ///< longest single wait, so nothing can sleep for ever
constexpr auto kHangupGrace = 5ms;             ///< lets bytes written just before a close arrive first
constexpr auto kDeadLineBackoff = 10ms;        ///< pause when the master reports an error without data

// Ways out of an exchange, thrown from the waits and caught by run().
struct Stopped
{
};
struct HostGone
{
};
struct FallSilent
{
};
struct HangUpFault
{
    const char *reason;
};

/// One received byte, or the mark of a host hang-up, in the order they reached the unit.
struct Arrival
{
    bool hostGone = false;
    unsigned session = 0;     ///< for hostGone: the host session that ended
    std::uint8_t byte = 0;
    LineSpeed line;           ///< host's line speeds when the byte was written
    Clock::time_point ready;  ///< earliest time the unit may act on it (its line time is over)
};

/// Line time of one byte: start bit, 8 data bits, stop bit.
Clock::duration byteTime(unsigned baud)
{
    if (baud == 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000ull / baud));
}

} // namespace

class UnitSimulator::Engine
{
public:
    explicit Engine(const SimOptions &options);
    ~Engine();

    void run();
    void requestStop() noexcept;

    const SimOptions m_opt;
    PseudoTerminal m_pty;
    std::thread m_thread;
    std::atomic<bool> m_finished{false};

    mutable std::mutex m_mutex; // guards m_report and m_firmware, read by other threads
    SimReport m_report;
    Bytes m_firmware;

private:
    template <class F>
    void note(F change)
    {
        std::lock_guard lock(m_mutex);
        change(m_report);
    }

    // Line input and output.
    bool pump(Clock::time_point deadline, bool wantWrite = false);
    void drainMaster();
    void readHostEvents();
    std::optional<Arrival> next(std::optional<Clock::time_point> deadline);
    std::optional<std::uint8_t> exchangeByte(std::optional<Clock::time_point> deadline = std::nullopt);
    Bytes exchangeBytes(std::size_t count);
    void waitUntil(Clock::time_point t);
    void send(const Bytes &bytes);
    void handOver();
    void writeAll(const std::uint8_t *data, std::size_t size);
    bool transferSpeedOk(unsigned speed) const { return m_opt.transferSpeed == 0 || speed == m_opt.transferSpeed; }

    // The unit's side of the exchanges.
    void idle();
    void probe(const LineSpeed &line);
    void linkRequest();
    bool poweringUp() const;
    void backup();
    void upgrade();
    void finish(const std::string &reason);

    int m_stopPipe[2] = {-1, -1};
    std::atomic<bool> m_stopRequested{false};

    UsbAdapter m_adapter;        // what the unit sends, on its way to the host
    bool m_handingOver = false;  // a write to the host is waiting for room

    std::deque<Arrival> m_rx;
    Clock::time_point m_rxLineFree{};  // when the last received byte finished its line time
    Clock::time_point m_lastRxReady{}; // when the last byte taken from the line finished arriving
    int m_hostOpenCount = 0;
    std::deque<std::pair<Clock::time_point, unsigned>> m_hostGoneAt; // hang-up marks (due, session) in their grace
    unsigned m_hostSession = 0;     // counts the host's opens of a closed port
    unsigned m_exchangeSession = 0; // host session in which the running exchange began

    bool m_silent = false;
    bool m_powerUpStarted = false;
    Clock::time_point m_poweredAt{};
    bool m_garbageSent = false;
    bool m_corruptDone = false;
    bool m_nakRecordDone = false;
    unsigned m_trailerNaksLeft = 0;
    bool m_restartExpected = false;
};

UnitSimulator::Engine::Engine(const SimOptions &options)
    : m_opt(options), m_pty(options.linkPath), m_adapter(options.latencyMs, options.burstSeed),
      m_trailerNaksLeft(options.nakTrailer)
{
    m_firmware = m_opt.firmwarePath.empty() ? generateImage(m_opt.records, m_opt.seed) : readFile(m_opt.firmwarePath);
    m_report.probeSpeed = m_opt.probeSpeed;
    m_report.firmwareBytes = unsigned(m_firmware.size());
    m_silent = m_opt.silent;
    m_report.silent = m_silent;
    if (pipe2(m_stopPipe, O_NONBLOCK | O_CLOEXEC) < 0)
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
}

UnitSimulator::Engine::~Engine()
{
    for (const int fd : m_stopPipe)
        if (fd >= 0)
            ::close(fd);
}

void UnitSimulator::Engine::requestStop() noexcept
{
    m_stopRequested = true;
    const char c = 's';
    [[maybe_unused]] const auto ignored = ::write(m_stopPipe[1], &c, 1);
}

// ---------------------------------------------------------------------------------------
// Line input and output

// One wait for something to happen on the line, the stop pipe or the slave device, up to
// `deadline` (at most kMaxPollWait). Received bytes go to the queue with the time at which
// their line time is over. Returns whether the master can take output (with wantWrite).
bool UnitSimulator::Engine::pump(Clock::time_point deadline, bool wantWrite)
{
    if (m_stopRequested)
        throw Stopped{};
    handOver();
    auto now = Clock::now();
    bool marked = false;
    while (!m_hostGoneAt.empty() && now >= m_hostGoneAt.front().first) {
        drainMaster();
        m_rx.push_back(Arrival{true, m_hostGoneAt.front().second, 0, {}, std::max(now, m_rxLineFree)});
        m_hostGoneAt.pop_front();
        marked = true;
    }
    // A hang-up mark just queued is acted on at once: only look at the descriptors.
    auto until = marked ? now : std::min(deadline, now + kMaxPollWait);
    if (!m_hostGoneAt.empty())
        until = std::min(until, m_hostGoneAt.front().first);
    if (const auto due = m_adapter.nextDue())
        until = std::min(until, *due);
    const auto wait = std::max(until - now, Clock::duration::zero());
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
    timespec ts{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};

    pollfd fds[3] = {{m_pty.master(), short(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                     {m_stopPipe[0], POLLIN, 0},
                     {m_pty.watch(), POLLIN, 0}};
    const int n = ppoll(fds, 3, &ts, nullptr);
    if (n < 0) {
        if (errno == EINTR)
            return false;
        throw std::runtime_error(std::string("ppoll: ") + std::strerror(errno));
    }
    if (fds[1].revents != 0 || m_stopRequested)
        throw Stopped{};
    if (fds[2].revents & POLLIN)
        readHostEvents();
    if (fds[0].revents & POLLIN) {
        drainMaster();
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
        // Cannot happen while our own slave descriptor is open; never spin on it anyway.
        const auto backoff = std::min<Clock::duration>(wait, kDeadLineBackoff);
        const auto bns = std::chrono::duration_cast<std::chrono::nanoseconds>(backoff).count();
        timespec bts{0, long(bns)};
        pollfd stop{m_stopPipe[0], POLLIN, 0};
        ppoll(&stop, 1, &bts, nullptr);
    }
    return (fds[0].revents & POLLOUT) != 0;
}

void UnitSimulator::Engine::drainMaster()
{
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_pty.master(), buf, sizeof buf);
        if (n <= 0)
            return; // EAGAIN: all taken; EIO cannot happen while our slave descriptor is open
        const auto now = Clock::now();
        const LineSpeed line = m_pty.lineSpeed();
        const auto bt = m_opt.pace ? byteTime(line.out) : Clock::duration::zero();
        for (ssize_t i = 0; i < n; ++i) {
            m_rxLineFree = std::max(now, m_rxLineFree) + bt;
            m_rx.push_back(Arrival{false, 0, buf[i], line, m_rxLineFree});
        }
    }
}

void UnitSimulator::Engine::readHostEvents()
{
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_pty.watch(), buf, sizeof buf);
        if (n <= 0)
            return;
        for (ssize_t pos = 0; pos < n;) {
            const auto *ev = reinterpret_cast<const inotify_event *>(buf + pos);
            if (ev->mask & IN_OPEN) {
                if (m_hostOpenCount == 0)
                    ++m_hostSession;
                ++m_hostOpenCount;
                note([](SimReport &r) { ++r.hostOpens; });
            }
            if ((ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && m_hostOpenCount > 0 && --m_hostOpenCount == 0) {
                // The host's last descriptor is closed. The mark goes into the input queue
                // shortly after, behind whatever the host wrote before closing.
                m_hostGoneAt.emplace_back(Clock::now() + kHangupGrace, m_hostSession);
            }
            pos += ssize_t(sizeof(inotify_event) + ev->len);
        }
    }
}

std::optional<Arrival> UnitSimulator::Engine::next(std::optional<Clock::time_point> deadline)
{
    for (;;) {
        const auto now = Clock::now();
        if (!m_rx.empty() && m_rx.front().ready <= now) {
            Arrival a = m_rx.front();
            m_rx.pop_front();
            m_lastRxReady = a.ready;
            return a;
        }
        if (deadline && now >= *deadline)
            return std::nullopt;
        auto until = deadline ? *deadline : now + kMaxPollWait;
        if (!m_rx.empty())
            until = std::min(until, m_rx.front().ready);
        pump(until);
    }
}

// Next byte inside an exchange. A host hang-up abandons the exchange; a byte sent at a
// line speed other than the transfer speed reaches the unit garbled and is dropped.
std::optional<std::uint8_t> UnitSimulator::Engine::exchangeByte(std::optional<Clock::time_point> deadline)
{
    for (;;) {
        const auto a = next(deadline);
        if (!a)
            return std::nullopt;
        if (a->hostGone && a->session < m_exchangeSession) {
            // The mark of a close that came before this exchange began (the host
            // closed and reopened the port, as between the port test and the
            // transfer): the host that started this exchange is still there.
            note([](SimReport &r) { ++r.hostHangups; });
            continue;
        }
        if (a->hostGone) {
            note([](SimReport &r) {
                ++r.hostHangups;
                ++r.exchangesAbandoned;
            });
            throw HostGone{};
        }
        if (!transferSpeedOk(a->line.out)) {
            note([](SimReport &r) { ++r.wrongSpeedBytes; });
            continue;
        }
        return a->byte;
    }
}

Bytes UnitSimulator::Engine::exchangeBytes(std::size_t count)
{
    Bytes bytes;
    while (bytes.size() < count)
        bytes.push_back(*exchangeByte());
    return bytes;
}

void UnitSimulator::Engine::waitUntil(Clock::time_point t)
{
    while (Clock::now() < t)
        pump(t);
}

// Sends bytes as one message. Each answer leaves the turnaround after the byte
// it answers arrived, and the unit goes on listening meanwhile, so answers to
// requests that came close together follow each other as closely. With pacing,
// each byte also takes its line time at the host's current speed, so the host
// can never receive them faster than a wire.
void UnitSimulator::Engine::send(const Bytes &bytes)
{
    if (m_silent || bytes.empty())
        return;
    const auto now = Clock::now();
    auto start = now + std::chrono::microseconds(m_opt.turnaroundUs);
    auto bt = Clock::duration::zero();
    if (m_opt.pace) {
        // An answer to a byte just received leaves right after that byte's stop bit:
        // the time this process took to wake up and decide is not charged to the line.
        bt = byteTime(m_pty.lineSpeed().in);
        if (now - m_lastRxReady < bt)
            start = m_lastRxReady + std::chrono::microseconds(m_opt.turnaroundUs);
    }
    m_adapter.send(bytes, start, bt);
    handOver();
}

// Writes to the host whatever the line and the adapter hand over now, each hand-over
// in one write.
void UnitSimulator::Engine::handOver()
{
    if (m_handingOver)
        return; // a write waiting for room in the host's buffer
    m_handingOver = true;
    try {
        while (const auto out = m_adapter.due(Clock::now())) {
            writeAll(out->bytes.data(), out->bytes.size());
            if (out->burst) {
                note([&out](SimReport &r) {
                    ++r.adapterWrites;
                    r.adapterMerges += out->merged ? 1 : 0;
                    r.adapterCuts += out->cut ? 1 : 0;
                });
            }
        }
    } catch (...) {
        m_handingOver = false;
        throw;
    }
    m_handingOver = false;
}

void UnitSimulator::Engine::writeAll(const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_pty.master(), data, size);
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pump(Clock::now() + kMaxPollWait, true); // the host is not reading: wait for room
        } else if (n < 0 && errno != EINTR) {
            throw std::runtime_error(std::string("write to the master: ") + std::strerror(errno));
        }
    }
}

// ---------------------------------------------------------------------------------------
// The unit's side of the exchanges

void UnitSimulator::Engine::run()
{
    // Line times are charged with absolute deadlines; the kernel's default timer
    // slack (50 us) would still add to every wake-up, so ask for none.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    std::string reason = "stopped";
    try {
        for (;;) {
            try {
                idle();
            } catch (const HostGone &) {
                // The host went away in the middle of an exchange: the unit is idle again.
            } catch (const FallSilent &) {
                m_silent = true;
                note([](SimReport &r) { r.silent = true; });
            }
        }
    } catch (const Stopped &) {
        reason = "stopped";
    } catch (const HangUpFault &h) {
        // What the unit sent before it hung up still crosses the line first.
        try {
            while (m_adapter.onLine())
                pump(m_adapter.lineFreeAt());
        } catch (...) {
        }
        m_pty.close();
        reason = h.reason;
    } catch (const std::exception &e) {
        reason = std::string("error: ") + e.what();
    }
    finish(reason);
}

// Between exchanges: probes, link requests and the two commands.
void UnitSimulator::Engine::idle()
{
    for (;;) {
        const Arrival a = *next(std::nullopt);
        if (a.hostGone) {
            note([](SimReport &r) { ++r.hostHangups; });
            continue;
        }
        if (a.byte == kProbe) {
            probe(a.line);
            continue;
        }
        if (!transferSpeedOk(a.line.out)) {
            note([](SimReport &r) { ++r.wrongSpeedBytes; });
            continue;
        }
        const bool deaf = m_silent || poweringUp();
        switch (a.byte) {
        case kEnq:
            if (m_silent)
                note([](SimReport &r) { ++r.linkRequests; });
            else
                linkRequest();
            break;
        case kReadRequest:
            if (deaf)
                note([](SimReport &r) { ++r.readRequests; });
            else
                backup();
            break;
        case kEraseRequest:
            if (deaf)
                note([](SimReport &r) { ++r.eraseRequests; });
            else
                upgrade();
            break;
        default:
            note([](SimReport &r) { ++r.unexpectedBytes; });
        }
    }
}

// The probe is answered whenever the host's line runs at the probe speed, whatever else
// the unit is doing between exchanges (switching on included), unless it is silent.
void UnitSimulator::Engine::probe(const LineSpeed &line)
{
    const bool answer = !m_silent && line.out == m_opt.probeSpeed && line.in == m_opt.probeSpeed;
    if (answer) {
        Bytes reply(m_opt.answerLength);
        for (std::size_t i = 0; i < reply.size(); ++i)
            reply[i] = std::uint8_t("K410 V410 unit simulator ready"[i % 30]);
        send(reply);
    }
    note([&](SimReport &r) {
        ++r.probesReceived;
        r.probeSpeedsReceived.push_back(line.out);
        if (answer) {
            ++r.probesAnswered;
            r.probeSpeedsAnswered.push_back(line.out);
        }
    });
}

bool UnitSimulator::Engine::poweringUp() const
{
    return m_opt.powerUpAfterMs > 0 && (!m_powerUpStarted || Clock::now() < m_poweredAt);
}

void UnitSimulator::Engine::linkRequest()
{
    if (m_opt.powerUpAfterMs > 0 && !m_powerUpStarted) {
        // The first link request finds the unit being switched on.
        m_powerUpStarted = true;
        m_poweredAt = Clock::now() + std::chrono::milliseconds(m_opt.powerUpAfterMs);
    }
    if (poweringUp()) {
        note([](SimReport &r) {
            ++r.linkRequests;
            ++r.linkIgnoredPoweringUp;
        });
        return;
    }
    if (!m_garbageSent && m_opt.garbage > 0) {
        Bytes noise(m_opt.garbage);
        for (std::size_t i = 0; i < noise.size(); ++i) {
            noise[i] = std::uint8_t(0x80 + i * 37);
            if (noise[i] == kAck || noise[i] == kEnq || noise[i] == kNak)
                noise[i] = 0x00;
        }
        send(noise);
        note([&](SimReport &r) { r.garbageSent += unsigned(noise.size()); });
    }
    m_garbageSent = true;
    send({kAck});
    note([](SimReport &r) {
        ++r.linkRequests;
        ++r.linkAnswers;
    });
}

// Read request: 0x06 and 0x05 (ready), the host's go-ahead, then the memory as blocks,
// each answered 0x06 (next) or 0x15 (again, as 16 bytes); the end block is not answered,
// the trailer follows and the host's 0x06 completes the backup.
void UnitSimulator::Engine::backup()
{
    m_exchangeSession = m_hostSession;
    if (m_opt.ackEnqTogether) {
        send({kAck, kEnq});
    } else {
        send({kAck});
        const auto readyAt = Clock::now() + std::chrono::milliseconds(m_opt.readyDelayMs);
        if (m_opt.ackRepeatedReads) {
            // While it gets ready, the unit answers the host's repeated read requests too.
            while (const auto b = exchangeByte(readyAt)) {
                if (*b == kReadRequest) {
                    send({kAck});
                    note([](SimReport &r) {
                        ++r.readRequests;
                        ++r.readRepeatsAcked;
                    });
                } else {
                    note([](SimReport &r) { ++r.unexpectedBytes; });
                }
            }
        } else {
            waitUntil(readyAt);
        }
        send({kEnq});
    }
    note([](SimReport &r) {
        ++r.readRequests;
        ++r.readRequestsAnswered;
        r.backupCompleted = false;
    });

    // Read requests still arriving from the host's stream are counted, not answered again:
    // a second 0x06 0x05 would land in the middle of the blocks the host counts. A unit
    // that takes the byte after its 0x05 as the go-ahead gives the read up instead.
    for (;;) {
        const std::uint8_t b = *exchangeByte();
        if (b == kAck)
            break;
        if (b == kReadRequest && m_opt.dropReadOnLateA) {
            note([](SimReport &r) {
                ++r.readRequests;
                ++r.readsDropped;
            });
            return;
        }
        note([b](SimReport &r) { ++(b == kReadRequest ? r.readRequests : r.unexpectedBytes); });
    }
    note([](SimReport &r) { ++r.goAheads; });

    BackupContent content;
    {
        std::lock_guard lock(m_mutex);
        content = backupContent(m_firmware);
    }
    const std::size_t count = content.blocks.size();
    for (std::size_t k = 1; k <= count; ++k) {
        if (k == m_opt.hangupAtBlock)
            throw HangUpFault{"hangup-at-block"};
        bool withLead = (k == 1);
        for (;;) {
            const Bytes &block = content.blocks[k - 1];
            Bytes wire(withLead ? 1 : 0, kLeadByte);
            wire.insert(wire.end(), block.begin(), block.end());
            const bool corrupt = (k == m_opt.corruptBlock && !m_corruptDone);
            if (corrupt) {
                wire.back() ^= 0x01; // xorSum off by one: the block fails its check
                m_corruptDone = true;
            }
            send(wire);
            withLead = false;
            note([corrupt](SimReport &r) {
                ++r.blocksSent;
                r.corruptBlocksSent += corrupt ? 1 : 0;
            });
            if (k == m_opt.silentAfterBlock)
                throw FallSilent{};
            if (k == count && !corrupt)
                break; // the end block is not answered
            const auto answer = [this]() {
                for (;;) {
                    const std::uint8_t b = *exchangeByte();
                    if (b == kAck || b == kNak)
                        return b;
                    note([](SimReport &r) { ++r.unexpectedBytes; });
                }
            }();
            if (answer == kAck) {
                note([](SimReport &r) { ++r.blockAcks; });
                break;
            }
            note([](SimReport &r) { ++r.naksReceived; });
        }
    }

    // The host sends nothing for the end block; the unit gives it a moment, then the trailer.
    const auto trailerAt = Clock::now() + std::chrono::milliseconds(m_opt.trailerDelayMs);
    while (exchangeByte(trailerAt))
        note([](SimReport &r) { ++r.endBlockAnswers; });
    send(content.trailer);
    note([](SimReport &r) { ++r.backupTrailersSent; });
    for (;;) {
        if (*exchangeByte() == kAck)
            break;
        note([](SimReport &r) { ++r.unexpectedBytes; });
    }
    note([](SimReport &r) {
        ++r.backupsCompleted;
        r.backupCompleted = true;
    });
}

// Erase request: erase, 0x06, then records of 16 bytes, each checked and answered; the
// end record is answered like a record and is followed by the 4-byte trailer, whose
// answer completes the upgrade (0x06) or sends the host back to the link exchange (0x15).
void UnitSimulator::Engine::upgrade()
{
    m_exchangeSession = m_hostSession;
    const bool restart = m_restartExpected;
    m_restartExpected = false;
    note([restart](SimReport &r) {
        ++r.eraseRequests;
        r.restarts += restart ? 1 : 0;
        r.upgradeCompleted = false;
    });
    // Whatever arrives during the erase waits in the queue, as in the unit's receive buffer.
    waitUntil(Clock::now() + std::chrono::milliseconds(m_opt.eraseMs));
    {
        std::lock_guard lock(m_mutex);
        m_firmware.clear();
        m_report.firmwareBytes = 0;
    }
    send({kAck});

    const auto store = [this](const Bytes &bytes) {
        std::lock_guard lock(m_mutex);
        m_firmware.insert(m_firmware.end(), bytes.begin(), bytes.end());
        m_report.firmwareBytes = unsigned(m_firmware.size());
    };

    for (std::size_t position = 1;;) {
        const Bytes record = exchangeBytes(kRecordSize);
        if (position == m_opt.hangupAtRecord) {
            note([](SimReport &r) { ++r.recordsReceived; });
            throw HangUpFault{"hangup-at-record"};
        }
        const bool end = isEndRecord(record.data());
        const bool acceptable = end || isValidRecord(record.data());
        if (acceptable && position == m_opt.nakRecord && !m_nakRecordDone) {
            m_nakRecordDone = true;
            send({kNak});
            note([](SimReport &r) {
                ++r.recordsReceived;
                ++r.recordsNaked;
            });
            continue;
        }
        if (!acceptable) {
            send({kNak});
            note([](SimReport &r) {
                ++r.recordsReceived;
                ++r.recordsRejected;
            });
            continue;
        }
        store(record);
        send({kAck});
        note([end](SimReport &r) {
            ++r.recordsReceived;
            ++(end ? r.endRecords : r.recordsAccepted);
        });
        if (position == m_opt.silentAfterRecord)
            throw FallSilent{};
        if (end)
            break;
        ++position;
    }

    const Bytes trailer = exchangeBytes(kTrailerSize);
    store(trailer);
    if (m_trailerNaksLeft > 0) {
        --m_trailerNaksLeft;
        m_restartExpected = true;
        send({kNak});
        note([](SimReport &r) {
            ++r.trailersReceived;
            ++r.trailerNaks;
        });
        return;
    }
    send({kAck});
    note([](SimReport &r) {
        ++r.trailersReceived;
        ++r.upgradesCompleted;
        r.upgradeCompleted = true;
    });
}

void UnitSimulator::Engine::finish(const std::string &reason)
{
    SimReport report;
    Bytes firmware;
    {
        std::lock_guard lock(m_mutex);
        m_report.endReason = reason;
        report = m_report;
        firmware = m_firmware;
    }
    try {
        if (!m_opt.reportPath.empty()) {
            const std::string text = report.toText();
            writeFile(m_opt.reportPath, Bytes(text.begin(), text.end()));
        }
        if (!m_opt.outPath.empty())
            writeFile(m_opt.outPath, firmware);
    } catch (const std::exception &e) {
        std::cerr << "k410-sim: " << e.what() << '\n';
    }
    m_pty.close();
    m_finished = true;
}

// ---------------------------------------------------------------------------------------

UnitSimulator::UnitSimulator(const SimOptions &options) : d(std::make_unique<Engine>(options)) {}

UnitSimulator::~UnitSimulator()
{
    stop();
}

const std::string &UnitSimulator::slavePath() const
{
    return d->m_pty.slavePath();
}

void UnitSimulator::run()
{
    d->run();
}

void UnitSimulator::start()
{
    d->m_thread = std::thread([this] { d->run(); });
}

void UnitSimulator::requestStop() noexcept
{
    d->requestStop();
}

void UnitSimulator::stop()
{
    d->requestStop();
    if (d->m_thread.joinable())
        d->m_thread.join();
}

bool UnitSimulator::finished() const
{
    return d->m_finished;
}

SimReport UnitSimulator::report() const
{
    std::lock_guard lock(d->m_mutex);
    return d->m_report;
}

Bytes UnitSimulator::firmware() const
{
    std::lock_guard lock(d->m_mutex);
    return d->m_firmware;
}

} // namespace k410sim
