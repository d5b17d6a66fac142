// Windows side of PlatformSerial and of the line counter source.
#include <QtGlobal>
#ifdef Q_OS_WIN

#include "LineErrors.h"
#include "PlatformSerial.h"

#include <qt_windows.h>

namespace PlatformSerial {

void flushReceive(qintptr handle)
{
    ::PurgeComm(reinterpret_cast<HANDLE>(handle), PURGE_RXCLEAR | PURGE_RXABORT);
}

void drainTransmit(qintptr handle)
{
    ::FlushFileBuffers(reinterpret_cast<HANDLE>(handle));
}

void requestLowLatency(qintptr) {}

int osBytesWaiting(qintptr handle)
{
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &stat))
        return -1;
    return int(stat.cbInQue);
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

// A COM port handle is opened for exclusive access (no sharing) whatever the
// user's rights and whatever name reached the device, so the open itself
// keeps a second opener off the line: nothing more to lock.
bool lockDevice(qintptr)
{
    return true;
}

} // namespace PlatformSerial

namespace {

// ClearCommError reports flags, not counts: each flag seen adds one, so the
// control sees a counter move exactly when the condition was reported.
class CommErrorSource : public LineCounterSource
{
public:
    std::optional<LineCounters> read(qintptr handle) override
    {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!::ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &stat))
            return std::nullopt;
        if (errors & CE_BREAK) ++m_counts.brk;
        if (errors & CE_FRAME) ++m_counts.frame;
        if (errors & CE_OVERRUN) ++m_counts.overrun;
        if (errors & CE_RXOVER) ++m_counts.bufOverrun;
        if (errors & CE_RXPARITY) ++m_counts.parity;
        if (errors & CE_TXFULL) ++m_counts.txFull;
        return m_counts;
    }

private:
    LineCounters m_counts;
};

} // namespace

std::unique_ptr<LineCounterSource> makePlatformLineCounterSource()
{
    return std::make_unique<CommErrorSource>();
}

#endif // Q_OS_WIN
