#pragma once
// The few operations QSerialPort does not offer, one implementation file per
// platform (PlatformSerial_unix.cpp, PlatformSerial_win.cpp). `handle` is the
// port's QSerialPort::handle(): a descriptor on Unix, a HANDLE on Windows.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace PlatformSerial {

/// Discards whatever the OS has received and not yet delivered.
void flushReceive(qintptr handle);

/// Blocks until every byte handed to the OS has left the line (on Windows,
/// also until the writes of writeNow() have completed; a write that the line
/// does not take within a second plus twice its line time is cancelled).
void drainTransmit(qintptr handle);

/// Asks the driver for low-latency delivery of received bytes (Linux
/// ASYNC_LOW_LATENCY); silently does nothing where the driver refuses.
void requestLowLatency(qintptr handle);

/// Bytes received by the OS and not yet read, or -1 when unknown.
int osBytesWaiting(qintptr handle);

/// True when the device behind an open handle has gone (hang-up, error or
/// invalid descriptor), as opposed to a passing read or write failure.
bool deviceGone(qintptr handle);

/// False when `device` exists but cannot be a serial port (a regular file,
/// a directory); true otherwise.
bool couldBeSerialDevice(const QString &device);

/// Why an existing device refused to open with a "permission" failure.
enum class Refusal {
    PermissionDenied, ///< this user may not open the device at all
    InUse,            ///< another program (or another control) holds it
};
Refusal classifyRefusal(const QString &device);

/// One program per line: an exclusive lock on the open device itself (its
/// inode, not the name it was opened by), so a second copy of the program, or
/// a second control, naming the same device by a link or another path is kept
/// off the line, root included. Released when the handle is closed. False
/// when another opener holds it.
bool lockDevice(qintptr handle);

#ifdef Q_OS_WIN
/// Hands `bytes` to the driver in one write and returns without waiting for
/// the line. The write goes around QSerialPort: its completion is waited for
/// here, never delivered to QSerialPort's completion notifier. False when the
/// driver refuses the write.
bool writeNow(qintptr handle, const QByteArray &bytes);

/// Cancels the writes of writeNow() still in flight on `handle` and waits for
/// them to end; called before the handle is closed.
void abandonWrites(qintptr handle);
#endif

} // namespace PlatformSerial
