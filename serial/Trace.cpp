#include "Trace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>

namespace Trace {

namespace detail {
bool g_on = false;
} // namespace detail

namespace {

using Clock = std::chrono::steady_clock;

// The lock around the sink. MinGW's std::mutex (winpthreads) cannot be
// constant-initialised, so the lock is built on first use, which is thread-safe
// and comes before any use whatever the order in which the program's globals
// are set up. It is never destroyed, so a trace line written from another
// global's destructor at exit still finds it.
std::mutex &sinkMutex()
{
    static union Holder {
        std::mutex mutex;
        Holder() : mutex() {}
        ~Holder() {}
    } holder;
    return holder.mutex;
}

// The caller of every member holds sinkMutex(); the destructor runs at exit.
struct Sink
{
    std::unique_ptr<QFile> file; // open while the trace is on
    Clock::time_point opened{};

    ~Sink() { closeLocked(); }

    void write(const QByteArray &text)
    {
        if (!file)
            return;
        const long long us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - opened).count();
        char stamp[40];
        std::snprintf(stamp, sizeof stamp, "%12lld.%03lld ", us / 1000, us % 1000);
        QByteArray line(stamp);
        line += text;
        line += '\n';
        // Unbuffered: one write to the system per line.
        if (file->write(line) != line.size()) {
            std::fprintf(stderr, "%s: writing the trace failed (%s); carrying on without a trace\n",
                         kEnvironmentVariable, qPrintable(file->errorString()));
            detail::g_on = false;
            file.reset();
        }
    }

    void closeLocked()
    {
        if (!file)
            return;
        write(QByteArrayLiteral("# trace closed"));
        detail::g_on = false;
        file.reset();
    }
};

// Constant-initialised, so it exists before the trace opens at start-up and
// whatever the order in which the program's other globals are set up.
constinit Sink g_sink;

} // namespace

namespace detail {

void writeBytes(const char *direction, const QByteArray &bytes)
{
    QByteArray text(direction);
    if (!bytes.isEmpty()) {
        text += ' ';
        text += bytes.toHex(' ').toUpper();
    }
    const std::lock_guard lock(sinkMutex());
    g_sink.write(text);
}

} // namespace detail

void line(const QString &text)
{
    if (!detail::g_on)
        return;
    const QByteArray bytes = text.toUtf8();
    const std::lock_guard lock(sinkMutex());
    g_sink.write(bytes);
}

bool open(const QString &path)
{
    const std::lock_guard lock(sinkMutex());
    g_sink.closeLocked();

    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        std::fprintf(stderr, "%s: cannot open the trace file \"%s\" (%s); carrying on without a trace\n",
                     kEnvironmentVariable, qPrintable(path), qPrintable(file->errorString()));
        return false;
    }
    g_sink.file = std::move(file);
    g_sink.opened = Clock::now();
    detail::g_on = true;
    // Wall-clock time of the zero of the time stamps, with its offset from UTC.
    const QDateTime now = QDateTime::currentDateTime();
    const QString header = QStringLiteral("# k410-bios trace opened %1, pid %2")
                               .arg(now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODateWithMs))
                               .arg(QCoreApplication::applicationPid());
    g_sink.write(header.toUtf8());
    return detail::g_on;
}

bool openFromEnvironment()
{
    const QString path = qEnvironmentVariable(kEnvironmentVariable);
    if (path.isEmpty()) {
        close();
        return false;
    }
    return open(path);
}

void close()
{
    const std::lock_guard lock(sinkMutex());
    g_sink.closeLocked();
}

namespace {
// The trace starts with the program, before main() runs.
[[maybe_unused]] const bool g_openedAtStart = openFromEnvironment();
} // namespace

} // namespace Trace
