#include "EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <poll.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

using Clock = EventPump::Clock;

// Bumped by every event that must end a pass: user input and serial activity.
std::atomic<unsigned> g_activity{0};

std::vector<int> &watchedDescriptors()
{
    static std::vector<int> fds;
    return fds;
}

// Counts user input on its way to any object of the application.
class InputWatcher : public QObject
{
protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchEnd:
        case QEvent::Close:
        case QEvent::Quit:
            g_activity.fetch_add(1, std::memory_order_relaxed);
            break;
        default:
            break;
        }
        return false;
    }
};

// Per-thread preparation: fine timer slack, and the input watcher on the
// application (again if the application object was replaced).
void prepare()
{
#ifdef Q_OS_LINUX
    thread_local bool slackSet = false;
    if (!slackSet) {
        // The default 50 us slack would swallow the short passes of the probe wait.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        slackSet = true;
    }
#endif
    static QPointer<QCoreApplication> watchedApp;
    static InputWatcher *watcher = nullptr;
    QCoreApplication *app = QCoreApplication::instance();
    if (app && watchedApp != app && QThread::currentThread() == app->thread()) {
        if (!watcher)
            watcher = new InputWatcher;
        app->installEventFilter(watcher);
        watchedApp = app;
    }
}

// Sleeps until `deadline` or until a watched descriptor has input.
void waitOnDescriptors(Clock::time_point deadline)
{
    const auto remaining = deadline - Clock::now();
    if (remaining <= Clock::duration::zero())
        return;
#ifdef Q_OS_UNIX
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    timespec ts;
    ts.tv_sec = time_t(ns / 1000000000);
    ts.tv_nsec = long(ns % 1000000000);
    std::vector<pollfd> fds;
    for (int fd : watchedDescriptors())
        fds.push_back(pollfd{fd, POLLIN, 0});
    ::ppoll(fds.data(), nfds_t(fds.size()), &ts, nullptr);
#else
    std::this_thread::sleep_until(deadline);
#endif
}

// Ends a WaitForMoreEvents wait at a precise moment.
class PassTimer : public QObject
{
public:
    bool fired = false;

protected:
    void timerEvent(QTimerEvent *) override { fired = true; }
};

} // namespace

void EventPump::DoEvents()
{
    DoEventsUntil(Clock::now() + kDefaultPass);
}

void EventPump::DoEventsUntil(Clock::time_point deadline)
{
    prepare();
    const unsigned start = g_activity.load(std::memory_order_relaxed);
    const auto woken = [start] { return g_activity.load(std::memory_order_relaxed) != start; };

    QAbstractEventDispatcher *dispatcher =
        QCoreApplication::instance() ? QThread::currentThread()->eventDispatcher() : nullptr;
    if (!dispatcher) {
        waitOnDescriptors(deadline);
        return;
    }

    using namespace std::chrono_literals;
    for (;;) {
        dispatcher->processEvents(QEventLoop::AllEvents); // what is pending, no wait
        if (woken())
            return;
        const auto remaining = deadline - Clock::now();
        if (remaining <= Clock::duration::zero())
            return;
        if (remaining >= 1ms) {
            // Whole milliseconds through the event loop, so window input wakes us...
            PassTimer timer;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(remaining);
            const int id = timer.startTimer(ms, Qt::PreciseTimer);
            while (!timer.fired && !woken())
                dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            timer.killTimer(id);
            if (woken())
                return;
        } else {
            // ...and the sub-millisecond rest on the serial descriptors alone.
            waitOnDescriptors(deadline);
            dispatcher->processEvents(QEventLoop::AllEvents);
            return;
        }
    }
}

int EventPump::DoEventsPasses(int first, int last, const PassDeadlines &deadline)
{
    if (first >= last) {
        DoEventsUntil(deadline(last));
        return last;
    }
    const unsigned start = g_activity.load(std::memory_order_relaxed);
    const Clock::time_point end = deadline(last);
    DoEventsUntil(end);
    const Clock::time_point now = Clock::now();
    if (now >= end)
        return last;
    if (g_activity.load(std::memory_order_relaxed) == start)
        return first; // back early with nothing to show for it: count one pass
    // The pass that was running: the first whose deadline had not passed.
    int lo = first;
    int hi = last;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (deadline(mid) < now)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

EventPump &EventPump::instance()
{
    static EventPump pump;
    return pump;
}

void EventPump::watchDescriptor(int fd)
{
    auto &fds = watchedDescriptors();
    if (fd >= 0 && std::find(fds.begin(), fds.end(), fd) == fds.end())
        fds.push_back(fd);
}

void EventPump::unwatchDescriptor(int fd)
{
    auto &fds = watchedDescriptors();
    fds.erase(std::remove(fds.begin(), fds.end(), fd), fds.end());
}

void EventPump::wake()
{
    g_activity.fetch_add(1, std::memory_order_relaxed);
}
