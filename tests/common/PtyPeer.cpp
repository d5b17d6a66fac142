#include "PtyPeer.h"

#include "TimeScale.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int baudOf(speed_t speed)
{
    switch (speed) {
    case B110: return 110;
    case B300: return 300;
    case B600: return 600;
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    default: return 0;
    }
}

} // namespace

PtyPeer::PtyPeer()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return;
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slave = QString::fromLocal8Bit(::ptsname(m_master));
    // Raw line on the slave: no echo, no line editing of what either side sends.
    termios t{};
    ::tcgetattr(m_master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_master, TCSANOW, &t);
    m_thread = std::thread([this] { run(); });
}

PtyPeer::~PtyPeer()
{
    m_quit = true;
    if (m_thread.joinable())
        m_thread.join();
    if (!m_hungUp && m_master >= 0)
        ::close(m_master);
}

void PtyPeer::answerProbesAt(int baud)
{
    std::lock_guard lock(m_mutex);
    m_unitOnLine = true;
    m_unit.probeSetting = QStringLiteral("%1,N,8,1").arg(baud);
    m_unit.probeAnswerPasses = 1; // at once
}

void PtyPeer::answerInBursts(const QList<int> &sizes)
{
    std::lock_guard lock(m_mutex);
    m_unit.probeAnswer = sizes;
}

bool PtyPeer::send(const QByteArray &bytes)
{
    std::lock_guard lock(m_mutex);
    return !m_hungUp && ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray PtyPeer::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

QByteArray PtyPeer::take(qsizetype count)
{
    const int polls = testutil::scaledMs(5000) / 10; // 5 s at most, stretched on a slower build
    for (int i = 0; i < polls && received().size() < m_taken + count; ++i)
        ::usleep(10000);
    const QByteArray came = received().mid(m_taken);
    m_taken += came.size();
    return came;
}

void PtyPeer::hangUp()
{
    std::lock_guard lock(m_mutex);
    if (!m_hungUp) {
        m_hungUp = true;
        ::close(m_master);
    }
}

QString PtyPeer::lineSettings() const
{
    termios t{};
    const int baud = ::tcgetattr(m_master, &t) == 0 ? baudOf(::cfgetospeed(&t)) : 0;
    return baud ? QStringLiteral("%1,N,8,1").arg(baud) : QString();
}

void PtyPeer::run()
{
    char buf[4096];
    while (!m_quit && !m_hungUp) {
        if (m_paused) {
            ::usleep(1000);
            continue;
        }
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0)
            continue;
        if (!(p.revents & POLLIN)) {
            ::usleep(1000); // no slave open: nothing to read yet
            continue;
        }
        std::lock_guard lock(m_mutex);
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            continue;
        m_received.append(buf, n);
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != 0x02)
                continue;
            ++m_probes;
            if (m_hangUpOnProbe) {
                m_hungUp = true;
                ::close(m_master);
                return;
            }
        }
        if (!m_unitOnLine)
            continue;
        m_unit.receive(QByteArray(buf, n), lineSettings());
        for (bool first = true; m_unit.hasOutput(); first = false) {
            if (!first)
                ::usleep(10000); // the adapter's next tick
            const QByteArray bytes = m_unit.nextDelivery();
            (void)::write(m_master, bytes.constData(), size_t(bytes.size()));
        }
    }
}

int descriptorsOn(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QByteArray wanted = QFile::encodeName(canonical.isEmpty() ? path : canonical);
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        char target[4096];
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(entry)).constData(), target, sizeof target);
        const QByteArray link(target, n > 0 ? n : 0);
        if (link == wanted || link == wanted + " (deleted)")
            ++count;
    }
    return count;
}

int bytesWaitingOn(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) < 0)
        waiting = -1;
    ::close(fd);
    return waiting;
}
