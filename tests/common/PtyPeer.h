#pragma once
// The far end of a pseudo-terminal, owned by the test: the program under test
// opens the slave path as its serial device. A thread collects every byte the
// program sends; a ScriptedUnit on the line can answer the probe, at the line
// speed set on the slave, one delivery a 10 ms tick. Also: what this process
// holds open on a device. POSIX only.

#include "ScriptedUnit.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

class PtyPeer
{
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    bool isValid() const { return m_master >= 0; }
    /// The slave device path ("/dev/pts/N").
    QString slavePath() const { return m_slave; }

    /// A unit on the line answers each probe with 30 bytes while the slave is set to `baud`.
    void answerProbesAt(int baud);
    /// Deliver each answer as bursts of these sizes 10 ms apart, the way a
    /// USB adapter hands over what arrived in one tick.
    void answerInBursts(const QList<int> &sizes);
    /// Close the master (the far end goes away) right after the first probe.
    void hangUpOnFirstProbe() { m_hangUpOnProbe = true; }
    /// While paused the thread reads nothing, so the program's output backs up.
    void setPaused(bool paused) { m_paused = paused; }

    /// Write bytes towards the program.
    bool send(const QByteArray &bytes);
    /// Everything received from the program so far.
    QByteArray received() const;
    /// Waits (boundedly) until `count` more bytes than taken before have come,
    /// and takes what came.
    QByteArray take(qsizetype count);
    int probesSeen() const { return m_probes; }
    /// Close the master now.
    void hangUp();

private:
    void run();
    QString lineSettings() const;

    int m_master = -1;
    QString m_slave;
    std::atomic<bool> m_hangUpOnProbe{false};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_hungUp{false};
    std::atomic<int> m_probes{0};
    mutable std::mutex m_mutex;
    bool m_unitOnLine = false;
    ScriptedUnit m_unit;
    QByteArray m_received;
    qsizetype m_taken = 0;
    std::thread m_thread;
};

/// Descriptors of this process open on `path` (a device or a file), also
/// once it is gone (a hung-up pseudo-terminal's node is removed).
int descriptorsOn(const QString &path);
/// Bytes waiting in the input queue of the terminal at `path`, read through a
/// descriptor of our own (-1 if it cannot be opened). Takes nothing out.
int bytesWaitingOn(const QString &path);
