#include "EndSignals.h"

#include "EventPump.h"
#include "frmIstruzioni.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace EndSignals {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

/// The pipe from the handler to the event loop: read end, write end.
int g_pipe[2] = {-1, -1};

// Async-signal-safe: one write() and nothing else.
void onSignal(int signo)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

/// Reads the pipe from the event loop and ends the program once.
class Listener : public QObject
{
public:
    Listener(int fd, std::function<void(int)> end)
        : m_notifier(fd, QSocketNotifier::Read, this), m_end(std::move(end))
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }

private:
    void onReadable()
    {
        unsigned char bytes[16];
        int signo = 0;
        ssize_t n;
        while ((n = ::read(m_notifier.socket(), bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR)) {
            if (n > 0 && signo == 0)
                signo = bytes[0];
        }
        if (signo == 0 || m_ending)
            return; // the end is on its way already
        m_ending = true;
        EventPump::wake();
        frmIstruzioni::instance().endProgram([end = m_end, signo] { end(signo); });
    }

    QSocketNotifier m_notifier;
    std::function<void(int)> m_end;
    bool m_ending = false;
};

QPointer<Listener> g_listener;

} // namespace

void install(std::function<void(int)> end)
{
    uninstall();
    if (!end)
        end = [](int signo) { QCoreApplication::exit(128 + signo); };
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe, no handlers: the system's own handling stays
    g_listener = new Listener(g_pipe[0], std::move(end));
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the program's own reads and writes go on
    for (int signo : kSignals)
        ::sigaction(signo, &action, nullptr);
}

void uninstall()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (g_pipe[0] >= 0)
        for (int signo : kSignals)
            ::sigaction(signo, &action, nullptr);
    delete g_listener.data();
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace EndSignals

#else

namespace EndSignals {

void install(std::function<void(int)>)
{
}

void uninstall()
{
}

} // namespace EndSignals

#endif
