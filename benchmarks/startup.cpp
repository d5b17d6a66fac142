// Start-up probe: the application's own start-up path (QApplication, identity,
// start window) up to the moment the start window is shown on screen, then it
// prints the elapsed time since K410_T0_NS (set by the caller just before exec)
// and the peak resident memory, and quits.

#include "AppIdentity.h"
#include "frmStart.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

static qint64 realtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppIdentity::applyToApplication();

    frmStart start;
    start.show();
    // The window counts as shown once it is exposed and its first frame painted.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWindow *handle = start.windowHandle();
        if (!handle || !handle->isExposed())
            return;
        const qint64 t0 = qEnvironmentVariable("K410_T0_NS").toLongLong();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("startup_ms=%.1f\npeak_rss_kb=%ld\n", t0 > 0 ? double(realtimeNs() - t0) / 1e6 : -1.0,
                    usage.ru_maxrss);
        std::fflush(stdout);
        app.quit();
    });
    poll.start(0);
    return app.exec();
}
