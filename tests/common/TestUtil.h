#pragma once
// Small helpers shared by the end-to-end suites: whole-file reads and writes,
// and an action armed to run from the event loop once a condition holds (the
// way a test acts while a click handler runs a long operation).

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

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
