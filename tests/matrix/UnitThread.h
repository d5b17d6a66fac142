#pragma once
// A simulated unit run in this process on a thread of its own. Its report can
// be read while it runs, so a test can wait for what the unit has seen (the
// host's close of the line, its fall into silence) instead of sleeping.

#include "SimReport.h"
#include "UnitSimulator.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class UnitThread
{
public:
    /// Creates the unit (its pseudo-terminal and firmware) and starts it.
    explicit UnitThread(const k410sim::SimOptions &options);
    ~UnitThread();
    UnitThread(const UnitThread &) = delete;
    UnitThread &operator=(const UnitThread &) = delete;

    /// The device the host opens.
    QString device() const;
    /// What the unit has seen so far.
    k410sim::SimReport report() const;
    /// The unit's firmware as it stands.
    QByteArray firmware() const;
    /// True once the unit has ended by itself (a hang-up) or been stopped.
    bool finished() const;

    /// Waits, without running window events, until `condition` holds for the
    /// report; false if it still does not after `ms` milliseconds.
    bool waitFor(const std::function<bool(const k410sim::SimReport &)> &condition, int ms = 10000) const;

    /// Ends the unit; it writes its final firmware to the options' outPath.
    void stop();

private:
    std::unique_ptr<k410sim::UnitSimulator> m_unit;
};

/// The unit's report as "key=value" lines, for failure messages.
QByteArray reportText(const k410sim::SimReport &report);
