// Windows side of PlatformSerial and of the line counter source.
#include <QtGlobal>
#ifdef Q_OS_WIN

#include "LineErrors.h"
#include "PlatformSerial.h"

#include <qt_windows.h>
#include <winioctl.h>

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>

static_assert(CommErrorFlags::kRxOver == CE_RXOVER);
static_assert(CommErrorFlags::kOverrun == CE_OVERRUN);
static_assert(CommErrorFlags::kRxParity == CE_RXPARITY);
static_assert(CommErrorFlags::kFrame == CE_FRAME);
static_assert(CommErrorFlags::kBreak == CE_BREAK);
static_assert(CommErrorFlags::kTxFull == CE_TXFULL);

namespace {

// The serial driver's statistics request and its answer, as the driver kit's
// ntddser.h declares them (that header needs the kit's own types to compile).
constexpr DWORD kIoctlSerialGetStats = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 35, METHOD_BUFFERED, FILE_ANY_ACCESS);
struct SerialPerfStats
{
    ULONG ReceivedCount;
    ULONG TransmittedCount;
    ULONG FrameErrorCount;
    ULONG SerialOverrunErrorCount;
    ULONG BufferOverrunErrorCount;
    ULONG ParityErrorCount;
};
static_assert(kIoctlSerialGetStats == 0x1B008C);
static_assert(sizeof(ULONG) == 4 && sizeof(SerialPerfStats) == 24);
static_assert(offsetof(SerialPerfStats, FrameErrorCount) == 8 && offsetof(SerialPerfStats, ParityErrorCount) == 20);

// ClearCommError both reports and clears a port's error flags, and two
// consumers call it: the byte count (every read of InBufferCount and Input)
// and the line counters (every kLinePollMs). Every call therefore folds its
// flags into the handle's running counters here, and the counter source
// reads those, so a flag seen by the byte count is not lost to the counters.
// QSerialPort's own backend also calls it after each completed read and
// discards the flags: a flag it clears before we ask is not seen here.
// Windows hands out the lowest free handle values again, so the table holds
// a few entries; counts only grow, and the control takes a baseline at open.
struct CommStatus
{
    DWORD inQueue = 0;     ///< bytes received and not yet read
    LineCounters counters; ///< running counts of the handle's error flags
};

std::mutex &statusMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::unordered_map<qintptr, LineCounters> &countersByHandle()
{
    static std::unordered_map<qintptr, LineCounters> table;
    return table;
}

std::optional<CommStatus> readCommStatus(qintptr handle)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &stat))
        return std::nullopt;
    const std::lock_guard<std::mutex> lock(statusMutex());
    LineCounters &counters = countersByHandle()[handle];
    counters = addCommErrorFlags(counters, quint32(errors));
    return CommStatus{stat.cbInQue, counters};
}

// Output goes to the driver through our own overlapped writes. The handle is
// tied to QSerialPort's completion port, so each write's OVERLAPPED carries an
// event whose low bit is set: Windows then posts no completion packet for it,
// and QSerialPort's notifier only ever sees its own reads and serial waits.
// A write the driver cannot finish at once stays in flight here, with its
// bytes, until it completes; the GUI thread alone writes, so no lock.
struct PendingWrite
{
    OVERLAPPED overlapped{};
    QByteArray bytes;
    HANDLE event = nullptr;

    ~PendingWrite()
    {
        if (event)
            ::CloseHandle(event);
    }
    bool finished() const { return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
};

std::unordered_map<qintptr, std::list<std::unique_ptr<PendingWrite>>> &writesByHandle()
{
    static std::unordered_map<qintptr, std::list<std::unique_ptr<PendingWrite>>> table;
    return table;
}

void forgetFinishedWrites(std::list<std::unique_ptr<PendingWrite>> &writes)
{
    writes.remove_if([](const std::unique_ptr<PendingWrite> &w) { return w->finished(); });
}

// Waits up to `ms` for a write to end; cancels it if it has not by then and
// waits for the cancellation, so its buffer is never freed under the driver.
// False when even the cancellation did not end it in a second: the caller
// must then keep the write (and its memory) for good.
bool endWrite(HANDLE handle, PendingWrite &write, DWORD ms)
{
    if (::WaitForSingleObject(write.event, ms) == WAIT_OBJECT_0)
        return true;
    ::CancelIoEx(handle, &write.overlapped);
    return ::WaitForSingleObject(write.event, 1000) == WAIT_OBJECT_0;
}

} // namespace

namespace PlatformSerial {

bool writeNow(qintptr handle, const QByteArray &bytes)
{
    auto &writes = writesByHandle()[handle];
    forgetFinishedWrites(writes);
    auto write = std::make_unique<PendingWrite>();
    write->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!write->event)
        return false;
    write->bytes = bytes;
    write->overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<quintptr>(write->event) | 1);
    DWORD written = 0;
    if (::WriteFile(reinterpret_cast<HANDLE>(handle), write->bytes.constData(), DWORD(write->bytes.size()),
                    &written, &write->overlapped))
        return written == DWORD(bytes.size());
    if (::GetLastError() != ERROR_IO_PENDING)
        return false;
    writes.push_back(std::move(write));
    return true;
}

void abandonWrites(qintptr handle)
{
    auto &table = writesByHandle();
    const auto found = table.find(handle);
    if (found == table.end())
        return;
    for (auto &write : found->second)
        if (!endWrite(reinterpret_cast<HANDLE>(handle), *write, 0))
            (void)write.release(); // the driver still holds it: never free it
    table.erase(found);
}

void flushReceive(qintptr handle)
{
    ::PurgeComm(reinterpret_cast<HANDLE>(handle), PURGE_RXCLEAR | PURGE_RXABORT);
}

void drainTransmit(qintptr handle)
{
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    auto &table = writesByHandle();
    if (const auto found = table.find(handle); found != table.end()) {
        // A second plus twice the line time of what is in flight.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        const DWORD baud = ::GetCommState(h, &dcb) && dcb.BaudRate > 0 ? dcb.BaudRate : 110;
        qint64 pending = 0;
        for (const auto &write : found->second)
            pending += write->bytes.size();
        const ULONGLONG deadline = ::GetTickCount64() + 1000 + ULONGLONG(pending) * 20 * 1000 / baud;
        for (auto &write : found->second) {
            const ULONGLONG now = ::GetTickCount64();
            if (!endWrite(h, *write, DWORD(deadline > now ? deadline - now : 0)))
                (void)write.release(); // the driver still holds it: never free it
        }
        table.erase(found);
    }
    ::FlushFileBuffers(h);
}

void requestLowLatency(qintptr) {}

int osBytesWaiting(qintptr handle)
{
    const std::optional<CommStatus> status = readCommStatus(handle);
    return status ? int(status->inQueue) : -1;
}

bool deviceGone(qintptr)
{
    // Qt reports only real failures of a COM handle as read/resource errors.
    return true;
}

bool couldBeSerialDevice(const QString &)
{
    return true;
}

Refusal classifyRefusal(const QString &)
{
    // COM ports are exclusive on Windows: "access denied" means another holder.
    return Refusal::InUse;
}

// One program per line: QSerialPort opens a COM port with no sharing (share
// mode 0), and serial drivers create their ports as exclusive devices, so
// Windows refuses a second open of the port with ERROR_ACCESS_DENIED,
// whatever the user's rights and whichever name (COM2, \\.\COM2) reached
// it; QSerialPort reports PermissionError, which the control reads as "in
// use" (8005). Nothing more to lock. Wine 8 does not keep to this for a port
// mapped to a pseudo-terminal (a second open succeeds there), so it cannot be
// shown under Wine.
bool lockDevice(qintptr)
{
    return true;
}

} // namespace PlatformSerial

namespace {

/// The driver's running error counts, or nothing when it keeps none.
std::optional<DriverErrorCounts> readDriverCounts(HANDLE handle)
{
    // QSerialPort opens the port for overlapped I/O and ties it to a
    // completion port: the request needs an OVERLAPPED, and its event's low
    // bit set keeps the completion away from QSerialPort's port.
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!event)
        return std::nullopt;
    OVERLAPPED overlapped{};
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<quintptr>(event) | 1);
    SerialPerfStats stats{};
    DWORD got = 0;
    const bool ok = ::DeviceIoControl(handle, kIoctlSerialGetStats, nullptr, 0, &stats, sizeof stats, &got,
                                      &overlapped)
                    || (::GetLastError() == ERROR_IO_PENDING && ::GetOverlappedResult(handle, &overlapped, &got, TRUE));
    ::CloseHandle(event);
    if (!ok || got < sizeof stats)
        return std::nullopt;
    return DriverErrorCounts{stats.FrameErrorCount, stats.SerialOverrunErrorCount, stats.BufferOverrunErrorCount,
                             stats.ParityErrorCount};
}

// ClearCommError reports flags, not counts: each flag seen adds one, so the
// control sees a counter move when the condition was reported, by this poll
// or by a byte count taken since the last one. QSerialPort's own call after
// each completed read clears flags before they are seen here, so the
// driver's running counts, which no call clears, are added where the driver
// keeps them. A condition seen both ways moves a counter twice, which shows
// as one event when both land in one poll.
class CommErrorSource : public LineCounterSource
{
public:
    std::optional<LineCounters> read(qintptr handle) override
    {
        const std::optional<CommStatus> status = readCommStatus(handle);
        if (!status)
            return std::nullopt;
        // Whether the driver keeps counts is settled by the first reading of
        // a handle, the control's baseline at open: counts that appeared or
        // vanished later would move the counters with no condition seen. A
        // reading that fails later keeps the last counts.
        const std::optional<DriverErrorCounts> driver = readDriverCounts(reinterpret_cast<HANDLE>(handle));
        if (handle != m_handle) {
            m_handle = handle;
            m_driverCounts = driver.has_value();
            m_driver = {};
        }
        if (!m_driverCounts)
            return status->counters;
        if (driver)
            m_driver = *driver;
        return addDriverErrorCounts(status->counters, m_driver);
    }

private:
    qintptr m_handle = 0;
    bool m_driverCounts = false;
    DriverErrorCounts m_driver;
};

} // namespace

std::unique_ptr<LineCounterSource> makePlatformLineCounterSource()
{
    return std::make_unique<CommErrorSource>();
}

#endif // Q_OS_WIN
