#pragma once
// The simulated unit as a separate process (k410-sim, found through $K410_SIM):
// it owns a pseudo-terminal, prints the device the application opens, and on
// its way out writes a key=value report and the unit's final firmware.

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

class SimUnit
{
public:
    /// `dir` receives the report and the final firmware.
    SimUnit(const QStringList &args, const QString &dir);
    ~SimUnit();
    SimUnit(const SimUnit &) = delete;
    SimUnit &operator=(const SimUnit &) = delete;

    /// Starts the program and reads its first line (the device). False on failure;
    /// errorText() then says why.
    bool start();
    QString device() const { return m_device; }
    QString errorText() const { return m_error; }

    /// Ends the unit as an operator would (SIGTERM), so it writes its files.
    void stop();
    /// Ends it abruptly (SIGKILL): the far end of the line vanishes at once.
    void kill();
    /// True while the program runs.
    bool running() const;
    /// Waits (without running window events) until the program has ended by itself.
    bool waitForEnd(int ms = 10000);

    /// The report (stops the unit first). Empty when none was written.
    QMap<QString, QString> report();
    /// One report value as a number (-1 when missing).
    long long number(const QString &key);
    /// The unit's firmware at the end (stops the unit first).
    QByteArray firmware();

    /// The k410-sim program.
    static QString program();
    /// Runs k410-sim once with `args` (image writing); true on exit code 0.
    static bool runOnce(const QStringList &args);

private:
    QProcess m_process;
    QStringList m_args;
    QString m_reportPath;
    QString m_outPath;
    QString m_device;
    QString m_error;
    QMap<QString, QString> m_report;
    bool m_reportRead = false;
};

/// Descriptors of this process open on `path` (read from /proc/self/fd).
int openDescriptorsOn(const QString &path);
/// Bytes waiting in the input queue of the terminal at `path`, read through a
/// descriptor of our own (-1 if it cannot be opened). Takes nothing out.
int bytesWaitingOn(const QString &path);
