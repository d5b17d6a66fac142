#include "StopSignals.h"

#include "EventPump.h"

#include <QCoreApplication>
#include <QPointer>

#include <csignal>

#ifdef Q_OS_UNIX

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace StopSignals {

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

/// Reads the pipe from the event loop and passes each signal on.
class Listener : public QObject
{
public:
    Listener(int fd, std::function<void(int)> callback)
        : m_notifier(fd, QSocketNotifier::Read, this), m_callback(std::move(callback))
    {
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }

private:
    void onReadable()
    {
        unsigned char bytes[16];
        ssize_t n;
        while ((n = ::read(m_notifier.socket(), bytes, sizeof bytes)) > 0 || (n < 0 && errno == EINTR)) {
            for (ssize_t i = 0; i < n; ++i) {
                EventPump::wake();
                m_callback(bytes[i]);
            }
        }
    }

    QSocketNotifier m_notifier;
    std::function<void(int)> m_callback;
};

QPointer<Listener> g_listener;

} // namespace

void install(std::function<void(int)> callback)
{
    uninstall();
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe, no handlers: the system's own handling stays
    g_listener = new Listener(g_pipe[0], std::move(callback));
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

} // namespace StopSignals

#else

#include <windows.h>

namespace StopSignals {

namespace {

std::function<void(int)> g_callback;

// Runs on a thread of the system's: the number is posted to the event loop.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    const int signo = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? SIGINT : SIGTERM;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return FALSE;
    QMetaObject::invokeMethod(app, [signo] {
        if (g_callback)
            g_callback(signo);
    }, Qt::QueuedConnection);
    EventPump::wake();
    return TRUE;
}

} // namespace

void install(std::function<void(int)> callback)
{
    g_callback = std::move(callback);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void uninstall()
{
    ::SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    g_callback = {};
}

} // namespace StopSignals

#endif
