#include "PortMap.h"
#include "Texts.h"

#include <QSerialPortInfo>
#include <QtGlobal>
#include <algorithm>

namespace PortMap {

namespace {

// Device name without its directory: "/dev/ttyUSB0" -> "ttyUSB0".
QString baseName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

int group(const QString &path)
{
    const QString name = baseName(path);
    if (name.startsWith(QLatin1String("ttyUSB")))
        return 0;
    if (name.startsWith(QLatin1String("ttyACM")))
        return 1;
    if (name.startsWith(QLatin1String("ttyS")) && name.size() > 4 && name.at(4).isDigit())
        return 2;
    return 3;
}

// Natural order: runs of digits compare by value, everything else by character.
int naturalCompare(const QString &a, const QString &b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a.at(i).isDigit() && b.at(j).isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a.at(ei).isDigit())
                ++ei;
            while (ej < b.size() && b.at(ej).isDigit())
                ++ej;
            // Compare by value without overflow: strip leading zeros, then length, then text.
            qsizetype si = i, sj = j;
            while (si + 1 < ei && a.at(si) == QLatin1Char('0'))
                ++si;
            while (sj + 1 < ej && b.at(sj) == QLatin1Char('0'))
                ++sj;
            if (ei - si != ej - sj)
                return ei - si < ej - sj ? -1 : 1;
            const int c = QStringView(a).mid(si, ei - si).compare(QStringView(b).mid(sj, ej - sj));
            if (c != 0)
                return c;
            i = ei;
            j = ej;
        } else {
            if (a.at(i) != b.at(j))
                return a.at(i) < b.at(j) ? -1 : 1;
            ++i;
            ++j;
        }
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

bool deviceBefore(const QString &a, const QString &b)
{
    const int ga = group(a), gb = group(b);
    if (ga != gb)
        return ga < gb;
    const int c = naturalCompare(baseName(a), baseName(b));
    if (c != 0)
        return c < 0;
    return a < b;
}

QStringList assignDevices(const QList<PortEntry> &available, const OverrideFn &overrides)
{
    QStringList devices;
    QList<int> free;
    for (int port = kFirstPort; port <= kLastPort; ++port) {
        const std::optional<QString> named = overrides ? overrides(port) : std::nullopt;
        devices.append(named.value_or(QString()));
        if (!named)
            free.append(port);
    }

    QStringList listed;
    for (const PortEntry &e : available) {
        if (!e.systemLocation.isEmpty() && !devices.contains(e.systemLocation)
            && !listed.contains(e.systemLocation))
            listed.append(e.systemLocation);
    }
    std::sort(listed.begin(), listed.end(), deviceBefore);

    for (int k = 0; k < free.size() && k < listed.size(); ++k)
        devices[free[k] - kFirstPort] = listed[k];
    return devices;
}

QString windowsDevice(int port, const OverrideFn &overrides)
{
    if (port < kFirstPort || port > kLastPort)
        return QString();
    const std::optional<QString> named = overrides ? overrides(port) : std::nullopt;
    return named.value_or(portLabel(port));
}

std::optional<QString> environmentOverride(int port)
{
    const char *name = nullptr;
    switch (port) {
    case 1: name = "K410_COM1"; break;
    case 2: name = "K410_COM2"; break;
    case 3: name = "K410_COM3"; break;
    case 4: name = "K410_COM4"; break;
    default: return std::nullopt;
    }
    if (!qEnvironmentVariableIsSet(name))
        return std::nullopt;
    return qEnvironmentVariable(name);
}

QList<PortEntry> availablePorts()
{
    QList<PortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        ports.append({info.systemLocation(), info.description(), info.manufacturer()});
    return ports;
}

QString portLabel(int port)
{
    return QStringLiteral("COM%1").arg(port);
}

QString deviceForPort(int port)
{
    if (port < kFirstPort || port > kLastPort)
        return QString();
#ifdef Q_OS_WIN
    return windowsDevice(port, environmentOverride);
#else
    // The environment alone decides when every number is named: no scan needed.
    bool allNamed = true;
    for (int p = kFirstPort; p <= kLastPort && allNamed; ++p)
        allNamed = environmentOverride(p).has_value();
    const QList<PortEntry> listed = allNamed ? QList<PortEntry>() : availablePorts();
    return assignDevices(listed, environmentOverride).at(port - kFirstPort);
#endif
}

QString describePort(int port)
{
    const QString device = deviceForPort(port);
    if (device.isEmpty())
        return Texts::text(Texts::Key::NoSerialDevice).arg(portLabel(port));
    QString line = QStringLiteral("%1: %2").arg(portLabel(port), device);
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        if (info.systemLocation() != device && info.portName() != device)
            continue;
        QStringList parts;
        if (!info.description().isEmpty())
            parts << info.description();
        if (!info.manufacturer().isEmpty() && info.manufacturer() != info.description())
            parts << info.manufacturer();
        if (!parts.isEmpty())
            line += QStringLiteral(" (%1)").arg(parts.join(QStringLiteral(", ")));
        break;
    }
    return line;
}

} // namespace PortMap
