#pragma once
// A serial-port control that passes everything to a real one and counts the
// transfer's frames as they cross it: backup blocks taken by Input (16 bytes,
// 17 for the first, up to 4 more when the trailer came in the end block's
// take) and records or trailers written by Output (16 or 4 bytes).
// A test arms it to act when the k-th frame of a kind has crossed; the action
// runs from the event loop, so the procedure meets it at its next event pass,
// exactly where a key press or a click on Exit would reach it.

#include "CommControl.h"

#include <functional>
#include <memory>

class CountingPort : public CommControl
{
    // No Q_OBJECT: no signals or slots of its own (OnComm is CommControl's).
public:
    enum class Frame { BlockTaken, FrameSent };

    explicit CountingPort(std::unique_ptr<CommControl> inner);

    qint16 CommPort() const override { return m_inner->CommPort(); }
    void setCommPort(qint16 port) override { m_inner->setCommPort(port); }
    QString Settings() const override { return m_inner->Settings(); }
    void setSettings(const QString &settings) override { m_inner->setSettings(settings); }
    bool PortOpen() const override { return m_inner->PortOpen(); }
    void setPortOpen(bool open) override { m_inner->setPortOpen(open); }
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int InBufferCount() override { return m_inner->InBufferCount(); }
    qint16 CommEvent() const override { return m_inner->CommEvent(); }

    /// Blocks (takes of 16 to 21 bytes) taken since the last reset.
    int blocksTaken() const { return m_blocksTaken; }
    /// Writes of 16 or 4 bytes since the last reset.
    int framesSent() const { return m_framesSent; }
    /// Zeroes both counts and disarms.
    void reset();
    /// Queues `action` (to run at the next event pass) once the `k`-th frame of
    /// `kind` has crossed.
    void armAt(Frame kind, int k, std::function<void()> action);

private:
    void crossed(Frame kind, int count);

    std::unique_ptr<CommControl> m_inner;
    int m_blocksTaken = 0;
    int m_framesSent = 0;
    Frame m_armedKind = Frame::BlockTaken;
    int m_armedAt = 0;
    std::function<void()> m_action;
};
