#pragma once
// Protocol trace for field support. When the environment variable K410_TRACE
// names a file, the program appends to it every byte sent and received on the
// serial port, every open and close of the port (device and settings) and every
// ending of the port test and of the transfer, one line each:
//
//          0.018 # k410-bios trace opened 2024-05-02T10:15:00.123+02:00, pid 4711
//          0.040 START transfer upgrade on COM2
//          0.412 OPEN COM2 (/dev/ttyUSB0) 19200,N,8,1
//          1.050 TX 05
//         11.873 RX 06
//       5012.004 END transfer normal/complete
//       5012.016 CLOSE COM2 (/dev/ttyUSB0)
//       5012.300 # trace closed
//
// The first column is milliseconds.microseconds since the trace was opened, on
// the monotonic clock; the header line gives the wall-clock time of that moment.
// An ending (END ...) is written when it is reached, before its clean-up.
// Each line reaches the file as it is written, so a killed program leaves a
// complete trace.
//
// Off by default. While off, every hook costs one test of a cached flag and
// nothing is formatted: callers that build a text test enabled() first. A file
// that cannot be opened is reported once on stderr and the program carries on
// without a trace.

#include <QByteArray>
#include <QString>

namespace Trace {

/// The environment variable naming the trace file.
inline constexpr const char *kEnvironmentVariable = "K410_TRACE";

namespace detail {
extern bool g_on;
void writeBytes(const char *direction, const QByteArray &bytes);
} // namespace detail

/// True while a trace file is open.
inline bool enabled() noexcept
{
    return detail::g_on;
}

/// "TX 05 41": bytes the program wrote to the port.
inline void sent(const QByteArray &bytes)
{
    if (detail::g_on)
        detail::writeBytes("TX", bytes);
}

/// "RX 06 05": bytes that arrived from the port.
inline void received(const QByteArray &bytes)
{
    if (detail::g_on)
        detail::writeBytes("RX", bytes);
}

/// One line of text after the time stamp (an open, a close, an ending).
/// Does nothing while the trace is off.
void line(const QString &text);

/// Opens the trace named by K410_TRACE (off when unset or empty). The program
/// does this once before main(); calling it again closes the current trace first.
bool openFromEnvironment();

/// Appends from now on to the file at `path` (created when missing); the
/// current trace, if any, is closed first. False, with one message on stderr,
/// when the file cannot be opened; the trace is off then.
bool open(const QString &path);

/// Closes the trace; the hooks are off again.
void close();

} // namespace Trace
