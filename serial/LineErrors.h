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
};

/// The OnComm codes for the counters that changed between two readings, in
/// ascending code order, one code per changed counter.
QList<qint16> lineEventsBetween(const LineCounters &before, const LineCounters &after);

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
