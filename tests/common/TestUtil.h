#pragma once
// Small helpers shared by the suites: whole-file reads and writes, the ports'
// devices, the port test's probe waits, the event pump run until a condition
// holds, and an action armed to run from the event loop once a condition holds
// (the way a test acts while a click handler runs a long operation).

#include "EventPump.h"
#include "PortTest.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace testutil {

/// The file's bytes, or empty when it cannot be read.
inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// Replaces the file with `bytes`; false when that fails.
inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

/// K410_COM1..4 from `devices` (a missing or empty entry: no device for that port).
inline void mapPorts(const QStringList &devices)
{
    const char *names[] = {"K410_COM1", "K410_COM2", "K410_COM3", "K410_COM4"};
    for (int i = 0; i < 4; ++i)
        qputenv(names[i], QFile::encodeName(devices.value(i)));
}

/// The probe wait for a unit that this process plays and that answers at the
/// setting being tried: generous, since the wait ends as soon as the answer is
/// in, and a busy machine may hold up the unit's thread far longer than a line
/// would hold up its answer.
inline ProbeTiming patientProbe()
{
    using namespace std::chrono_literals;
    return ProbeTiming{10s, 0.02};
}

/// The probe wait at settings where nothing answers: short, since silence costs
/// the whole wait. Where a unit does answer later in the same test, the control
/// waits for its answer (FakeCommPort::awaitProbeAnswer).
inline ProbeTiming shortProbe()
{
    using namespace std::chrono_literals;
    return ProbeTiming{150ms, 0.02};
}

/// Runs the application's event pump until `done` holds (at most `passes` passes).
inline bool pumpUntil(const std::function<bool()> &done, int passes = 2000)
{
    for (int i = 0; i < passes && !done(); ++i)
        EventPump::instance().DoEvents();
    return done();
}

/// Runs `action` once, from the event loop, as soon as `condition` holds.
inline std::unique_ptr<QTimer> when(std::function<bool()> condition, std::function<void()> action)
{
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(1);
    QTimer *raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, raw, [raw, condition = std::move(condition), action = std::move(action)] {
        if (!condition())
            return;
        raw->stop();
        action();
    });
    timer->start();
    return timer;
}

} // namespace testutil
