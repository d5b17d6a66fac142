// Unix side of PlatformSerial and of the line counter source.
#include <QtGlobal>
#ifdef Q_OS_UNIX

#include "LineErrors.h"
#include "PlatformSerial.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

namespace PlatformSerial {

void flushReceive(qintptr handle)
{
    if (handle >= 0)
        ::tcflush(int(handle), TCIFLUSH);
}

void drainTransmit(qintptr handle)
{
    if (handle < 0)
        return;
    while (::tcdrain(int(handle)) == -1 && errno == EINTR) {
    }
}

void requestLowLatency(qintptr handle)
{
#ifdef Q_OS_LINUX
    serial_struct ss{};
    if (::ioctl(int(handle), TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(int(handle), TIOCSSERIAL, &ss); // refused by some drivers: fine
    }
#else
    Q_UNUSED(handle);
#endif
}

int osBytesWaiting(qintptr handle)
{
    int n = 0;
    if (handle < 0 || ::ioctl(int(handle), FIONREAD, &n) != 0)
        return -1;
    return n;
}

bool deviceGone(qintptr handle)
{
    if (handle < 0)
        return true;
    pollfd pfd{int(handle), POLLIN, 0};
    if (::poll(&pfd, 1, 0) < 0)
        return errno != EINTR;
    return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool couldBeSerialDevice(const QString &device)
{
    struct stat st{};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return true;
    return S_ISCHR(st.st_mode);
}

Refusal classifyRefusal(const QString &device)
{
    // access() checks the real user against the device's mode and group
    // (Debian: root:dialout 0660); a busy device passes it.
    const QByteArray path = QFile::encodeName(device);
    if (::access(path.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return Refusal::PermissionDenied;
    return Refusal::InUse;
}

// flock() locks belong to the open file and conflict between any two opens
// of the same inode, in this process or another, whatever names they used;
// the kernel drops them when the descriptor closes or the program dies. A
// device or file system without flock support is not locked.
bool lockDevice(qintptr handle)
{
    if (handle < 0)
        return true;
    int rc;
    while ((rc = ::flock(int(handle), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return rc == 0 || errno != EWOULDBLOCK;
}

} // namespace PlatformSerial

namespace {

class IcountSource : public LineCounterSource
{
public:
    std::optional<LineCounters> read(qintptr handle) override
    {
#if defined(Q_OS_LINUX) && defined(TIOCGICOUNT)
        serial_icounter_struct ic{};
        if (handle < 0 || ::ioctl(int(handle), TIOCGICOUNT, &ic) != 0)
            return std::nullopt; // pseudo-terminals and most USB adapters without it
        LineCounters c;
        c.cts = quint32(ic.cts);
        c.dsr = quint32(ic.dsr);
        c.dcd = quint32(ic.dcd);
        c.ring = quint32(ic.rng);
        c.brk = quint32(ic.brk);
        c.frame = quint32(ic.frame);
        c.overrun = quint32(ic.overrun);
        c.bufOverrun = quint32(ic.buf_overrun);
        c.parity = quint32(ic.parity);
        return c;
#else
        Q_UNUSED(handle);
        return std::nullopt;
#endif
    }
};

} // namespace

std::unique_ptr<LineCounterSource> makePlatformLineCounterSource()
{
    return std::make_unique<IcountSource>();
}

#endif // Q_OS_UNIX
