#include "PtyPeer.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedCode(int baud)
{
    switch (baud) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    default: return B0;
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

void PtyPeer::hangUp()
{
    std::lock_guard lock(m_mutex);
    if (!m_hungUp) {
        m_hungUp = true;
        ::close(m_master);
    }
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
            termios t{};
            const int baud = m_answerBaud;
            if (baud && ::tcgetattr(m_master, &t) == 0 && ::cfgetospeed(&t) == speedCode(baud)) {
                for (qsizetype b = 0; b < m_bursts.size(); ++b) {
                    if (b > 0)
                        ::usleep(10000);
                    const QByteArray burst(m_bursts[b], 'A');
                    (void)::write(m_master, burst.constData(), size_t(burst.size()));
                }
            }
        }
    }
}

int PtyPeer::openDescriptorsOn(const QString &path)
{
    // A hung-up pseudo-terminal's node is removed: its links then read
    // "/dev/pts/N (deleted)".
    const QByteArray wanted = QFile::encodeName(path);
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    const auto names = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &name : names) {
        char target[512];
        const ssize_t n = ::readlink(QFile::encodeName(fds.filePath(name)).constData(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const QByteArray link(target, n);
        if (link == wanted || link.startsWith(wanted + " "))
            ++count;
    }
    return count;
}
