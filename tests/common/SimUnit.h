#pragma once
// The unit simulator, run in this process on a thread of its own: it owns a
// pseudo-terminal whose slave device the application opens as a serial port.
// Its report can be read while it runs, so a test waits for what the unit has
// seen (the host's close of the line, its fall into silence) instead of
// sleeping. The k410-sim program runs the same library; its suite tests the
// program itself. POSIX only.

#include "PtyPeer.h"
#include "SimReport.h"
#include "UnitSimulator.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

/// The simulator's bytes as a QByteArray.
QByteArray toBytes(const k410sim::Bytes &bytes);

class SimUnit
{
public:
    /// A unit set up by k410-sim's command-line arguments ("--probe-speed", "9600", ...).
    explicit SimUnit(const QStringList &args);
    explicit SimUnit(const k410sim::SimOptions &options);
    ~SimUnit();
    SimUnit(const SimUnit &) = delete;
    SimUnit &operator=(const SimUnit &) = delete;

    /// Starts the unit. False when it could not be made; errorText() then says why.
    bool start();
    QString errorText() const { return m_error; }
    /// The device the host opens.
    QString device() const;

    /// What the unit has seen so far.
    k410sim::SimReport report() const;
    /// The report as "key=value" lines, for failure messages.
    QByteArray reportText() const;
    /// One value of the final report, by its key ("probes_answered"): ends
    /// the unit first, as the k410-sim program writes its report on its way out.
    QString value(const QString &key);
    /// The same as a number (-1 when missing).
    long long number(const QString &key);
    /// The unit's firmware as it stands.
    QByteArray firmware() const;

    /// True once the unit has ended by itself (a hang-up fault) or been stopped.
    bool finished() const;
    /// Waits, without running window events, until `condition` holds for the
    /// report; false if it still does not after `ms` milliseconds.
    bool waitFor(const std::function<bool(const k410sim::SimReport &)> &condition, int ms = 10000) const;
    /// Waits the same way until the unit has ended by itself.
    bool waitForEnd(int ms = 10000) const;
    /// Ends the unit: it closes its end of the line (the host sees a hang-up)
    /// and writes its final firmware to the options' out path, if any.
    void stop();

    /// Descriptors this program holds on the unit's device besides the one
    /// the unit keeps open while it runs: what the application left open.
    int hostDescriptors() const;

    /// The image k410-sim writes with these arguments and "--write-image"
    /// (or "--write-damaged": one bad check byte in its middle record).
    static QByteArray image(const QStringList &args, bool damaged = false);

private:
    void make(const k410sim::SimOptions &options);

    std::unique_ptr<k410sim::UnitSimulator> m_unit;
    QString m_error;
};
