#pragma once
// Line-state and line-error counters of an open port, and how their changes
// become OnComm event codes. The platform keeps the counts (Linux TIOCGICOUNT,
// Windows ClearCommError); the control takes a baseline at open and turns
// every counter that moved into one event. Tests script a source of their own.

#include <QList>
#include <QtGlobal>
#include <memory>
#include <optional>

/// Running counts of line conditions since some fixed moment.
struct LineCounters
{
    quint32 cts = 0;        ///< CTS changes
    quint32 dsr = 0;        ///< DSR changes
    quint32 dcd = 0;        ///< carrier-detect changes
    quint32 ring = 0;       ///< rings
    quint32 brk = 0;        ///< breaks received
    quint32 frame = 0;      ///< framing errors
    quint32 overrun = 0;    ///< hardware overruns (a character lost)
    quint32 bufOverrun = 0; ///< receive buffer overflows
    quint32 parity = 0;     ///< parity errors
    quint32 txFull = 0;     ///< transmit buffer full (Windows only)

    bool operator==(const LineCounters &) const = default;
};

/// The OnComm codes for the counters that changed between two readings, in
/// ascending code order, one code per changed counter.
QList<qint16> lineEventsBetween(const LineCounters &before, const LineCounters &after);

/// Error flags as Windows' ClearCommError reports them (same bit values as
/// its CE_ constants, checked where those are visible).
namespace CommErrorFlags {
constexpr quint32 kRxOver = 0x0001;   ///< receive buffer overflow
constexpr quint32 kOverrun = 0x0002;  ///< hardware overrun, a character lost
constexpr quint32 kRxParity = 0x0004; ///< parity error
constexpr quint32 kFrame = 0x0008;    ///< framing error
constexpr quint32 kBreak = 0x0010;    ///< break received
constexpr quint32 kTxFull = 0x0100;   ///< transmit buffer full
} // namespace CommErrorFlags

/// `counters` with one added for each condition set in `flags` (the error
/// word of one ClearCommError call); flags not listed above add nothing.
/// The call clears the flags it reports, so every call's word must pass
/// through here exactly once for no condition to be lost or counted twice.
LineCounters addCommErrorFlags(LineCounters counters, quint32 flags);

/// Running error counts that a Windows serial driver keeps for its port
/// (IOCTL_SERIAL_GET_STATS). ClearCommError does not reset them, so they still
/// move when QSerialPort's own ClearCommError call, made after each completed
/// read, has cleared the flags before the control's poll could see them.
struct DriverErrorCounts
{
    quint32 frame = 0;      ///< FrameErrorCount
    quint32 overrun = 0;    ///< SerialOverrunErrorCount
    quint32 bufOverrun = 0; ///< BufferOverrunErrorCount
    quint32 parity = 0;     ///< ParityErrorCount
};

/// `flagCounts` (counted by addCommErrorFlags) plus the driver's counts, for
/// a driver that keeps them. Both only grow, so the sum moves whenever either
/// saw a condition (a driver that answers the request but counts nothing still
/// has its flags counted); the control compares against its reading at open,
/// so counts from before the open never show.
LineCounters addDriverErrorCounts(LineCounters flagCounts, const DriverErrorCounts &driver);

/// Where the counters of an open port come from.
class LineCounterSource
{
public:
    virtual ~LineCounterSource() = default;
    /// Current counters of the port behind `handle` (a descriptor or a HANDLE),
    /// or nothing when the platform cannot report them for this device
    /// (a pseudo-terminal, for instance).
    virtual std::optional<LineCounters> read(qintptr handle) = 0;
};

/// The platform's counter source.
std::unique_ptr<LineCounterSource> makePlatformLineCounterSource();
