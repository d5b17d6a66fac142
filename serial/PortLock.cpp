#include "PortLock.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <sys/types.h>

namespace PortLock {

QStringList lockFilesFor(const QString &device)
{
    // The serial library names the lock after the device, less "/dev/", with
    // every '/' made '_' ("/dev/pts/3": LCK..pts_3).
    QString name = device.startsWith(QLatin1String("/dev/")) ? device.mid(5) : device;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    static const char *const folders[] = {"/var/lock", "/etc/locks",     "/var/spool/locks", "/var/spool/uucp",
                                          "/tmp",      "/var/tmp",       "/var/lock/lockdev", "/run/lock"};
    QStringList files;
    for (const char *folder : folders) {
        // Shown as the folder really is (/var/lock is a link to /run/lock on Debian).
        const QFileInfo info{QString::fromLatin1(folder)};
        const QString real = info.canonicalFilePath().isEmpty() ? info.filePath() : info.canonicalFilePath();
        const QString file = real + QStringLiteral("/LCK..") + name;
        if (!files.contains(file))
            files << file;
    }
    return files;
}

namespace {

/// True when the process that wrote a lock holding these lines has ended:
/// its number names no process, or it was written before the machine last
/// started. Lines: process number, program name, host name, and (from some
/// writers) the machine's and the boot's ids.
bool writerEnded(const QList<QByteArray> &lines)
{
    bool ok = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&ok);
    if (!ok || pid <= 0)
        return false;
    const QByteArray host = lines.value(2).trimmed();
    if (!host.isEmpty() && host != QSysInfo::machineHostName().toLocal8Bit())
        return false; // another machine's lock on a shared folder: not ours to judge
    const QByteArray boot = lines.value(4).trimmed();
    if (!boot.isEmpty() && !QSysInfo::bootUniqueId().isEmpty() && boot != QSysInfo::bootUniqueId())
        return true;
    return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

QString staleLockFile(const QString &device)
{
    for (const QString &file : lockFilesFor(device)) {
        QFile lock(file);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        if (writerEnded(lock.read(4096).split('\n')))
            return file;
    }
    return {};
}

} // namespace PortLock

#else

namespace PortLock {

QStringList lockFilesFor(const QString &)
{
    return {};
}

QString staleLockFile(const QString &)
{
    return {};
}

} // namespace PortLock

#endif
