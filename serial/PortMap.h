#pragma once
// Port numbers 1 to 4 onto the platform's serial devices.
//
// On every platform the environment variable K410_COMN, when set, names the
// device for port N (any name the platform opens: "COM7" on Windows, any path
// and a pseudo-terminal too elsewhere; set but empty means "no device", which
// only POSIX systems can say: Windows removes a variable set to nothing).
// Windows: every other port N is "COMN". Elsewhere the remaining numbers take,
// in order, the USB adapters (ttyUSB*), then the ACM adapters (ttyACM*), then
// the built-in ports (ttyS*), then anything else the system lists, each group
// in natural numeric order (ttyUSB2 before ttyUSB10). A device named by a
// variable is not handed out a second time.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace PortMap {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 4;

/// One serial device the system lists.
struct PortEntry
{
    QString systemLocation; ///< "/dev/ttyUSB0" (Unix) or "COM3" (Windows)
    QString description;    ///< adapter description, when known
    QString manufacturer;   ///< adapter manufacturer, when known
};

/// What the environment says about port N: nothing when it says nothing,
/// otherwise the device (an empty string for "no device").
using OverrideFn = std::function<std::optional<QString>(int port)>;

/// The device of each port 1 to 4 (element 0 is port 1; empty = no device)
/// under the rule above, from an explicit device list and override lookup.
QStringList assignDevices(const QList<PortEntry> &available, const OverrideFn &overrides);

/// The device of port N on Windows: the override when there is one,
/// otherwise "COMN"; empty outside 1 to 4.
QString windowsDevice(int port, const OverrideFn &overrides);

/// The order in which listed devices are handed out.
bool deviceBefore(const QString &a, const QString &b);

/// The K410_COMN variable of the process environment.
std::optional<QString> environmentOverride(int port);
/// The serial devices the system lists (QSerialPortInfo).
QList<PortEntry> availablePorts();

/// "COM3" for port 3.
QString portLabel(int port);
/// The device for port 1 to 4 on this machine, or an empty string.
QString deviceForPort(int port);
/// A one-line human description for a tooltip, e.g.
/// "COM2: /dev/ttyUSB0 (FT232R USB UART, FTDI)" or "COM3: no serial device".
QString describePort(int port);

} // namespace PortMap
