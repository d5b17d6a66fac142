#include "PseudoTerminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace k410sim {

namespace {

[[noreturn]] void fail(const std::string &what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct SpeedEntry
{
    speed_t constant;
    unsigned baud;
};

const SpeedEntry kSpeedTable[] = {
    {B50, 50},         {B75, 75},           {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},       {B300, 300},         {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},       {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000}, {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

// The kernel's termios2 (asm/termbits.h cannot be included beside termios.h):
// the speeds in baud, used when the speed bits say BOTHER.
struct KernelTermios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
static_assert(sizeof(KernelTermios2) == 44);
constexpr unsigned long kTcgets2 = _IOR('T', 0x2A, KernelTermios2); ///< TCGETS2

} // namespace

unsigned baudOf(unsigned speedConstant)
{
    for (const SpeedEntry &e : kSpeedTable)
        if (e.constant == speedConstant)
            return e.baud;
    return 0;
}

PseudoTerminal::PseudoTerminal(const std::string &linkPath)
{
    try {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0)
            fail("posix_openpt");
        if (fcntl(m_master, F_SETFD, FD_CLOEXEC) < 0 || fcntl(m_master, F_SETFL, O_NONBLOCK) < 0)
            fail("fcntl on the master");
        if (grantpt(m_master) < 0)
            fail("grantpt");
        if (unlockpt(m_master) < 0)
            fail("unlockpt");
        char name[128];
        if (ptsname_r(m_master, name, sizeof name) != 0)
            fail("ptsname");
        m_slavePath = name;

        // Kept open and never read: while any slave descriptor is open the master does
        // not report a hang-up, whatever the host does with its own descriptors.
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_slave < 0)
            fail("open " + m_slavePath);
        termios t{};
        if (tcgetattr(m_slave, &t) < 0)
            fail("tcgetattr on the slave");
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        if (tcsetattr(m_slave, TCSANOW, &t) < 0)
            fail("tcsetattr on the slave");

        // Installed after our own open, so every open and close it reports is the host's.
        m_watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_watch < 0)
            fail("inotify_init1");
        if (inotify_add_watch(m_watch, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
            fail("inotify_add_watch " + m_slavePath);

        if (!linkPath.empty()) {
            struct stat st{};
            if (lstat(linkPath.c_str(), &st) == 0) {
                if (!S_ISLNK(st.st_mode)) {
                    errno = EEXIST;
                    fail("--link " + linkPath + " exists and is not a symlink");
                }
                ::unlink(linkPath.c_str()); // a stale link of an earlier run
            }
            if (symlink(name, linkPath.c_str()) < 0)
                fail("symlink " + linkPath);
            m_linkPath = linkPath;
        }
    } catch (...) {
        close();
        throw;
    }
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

LineSpeed PseudoTerminal::lineSpeed() const
{
    termios t{};
    if (m_master < 0 || tcgetattr(m_master, &t) < 0)
        return {};
    LineSpeed s{baudOf(cfgetispeed(&t)), baudOf(cfgetospeed(&t))};
    if (s.out == 0) {
        // A speed set in baud through termios2 (BOTHER, as Wine sets it) has
        // no classic speed constant: read the baud figures themselves.
        KernelTermios2 t2{};
        if (::ioctl(m_master, kTcgets2, &t2) == 0)
            s = LineSpeed{t2.c_ispeed, t2.c_ospeed};
    }
    if (s.in == 0) // an input speed of 0 means "the same as the output speed"
        s.in = s.out;
    return s;
}

void PseudoTerminal::close()
{
    for (int *fd : {&m_watch, &m_slave, &m_master}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_linkPath.empty()) {
        ::unlink(m_linkPath.c_str());
        m_linkPath.clear();
    }
}

} // namespace k410sim
