#pragma once
// The far end of a pseudo-terminal, owned by the test: the program under test
// opens the slave path as its serial device. A thread collects every byte the
// program sends and can play a unit that answers the probe 0x02 with 30 bytes
// only when the line speed set on the slave matches.

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

    /// Answer each probe with 30 bytes while the slave is set to `baud`.
    void answerProbesAt(int baud) { m_answerBaud = baud; }
    /// Deliver each answer as bursts of these sizes 10 ms apart, the way a
    /// USB adapter hands over what arrived in one tick (set before use).
    void answerInBursts(const QList<int> &sizes) { m_bursts = sizes; }
    /// Close the master (the far end goes away) right after the first probe.
    void hangUpOnFirstProbe() { m_hangUpOnProbe = true; }
    /// While paused the thread reads nothing, so the program's output backs up.
    void setPaused(bool paused) { m_paused = paused; }

    /// Write bytes towards the program.
    bool send(const QByteArray &bytes);
    /// Everything received from the program so far.
    QByteArray received() const;
    int probesSeen() const { return m_probes; }
    /// Close the master now.
    void hangUp();

    /// Descriptors of this process that refer to `path`.
    static int openDescriptorsOn(const QString &path);

private:
    void run();

    int m_master = -1;
    QString m_slave;
    std::atomic<int> m_answerBaud{0};
    std::atomic<bool> m_hangUpOnProbe{false};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_quit{false};
    std::atomic<bool> m_hungUp{false};
    std::atomic<int> m_probes{0};
    QList<int> m_bursts{30};
    mutable std::mutex m_mutex;
    QByteArray m_received;
    std::thread m_thread;
};
