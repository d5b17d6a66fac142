#pragma once
// The serial-port control of the tests: behaves like the window's MSComm1
// (its error numbers included) without any device. A test says which ports
// fail to open and why, plugs scripted units into ports (their deliveries
// come through a FakePump), answers writes at once through `responder`, loses
// the device, raises OnComm with any event code, and reads back everything
// that crossed the control.
// Made with a real control, it passes everything through to it and still
// records what crossed, so a test can count frames on the real line, and it
// can wait for a unit's answer to the port test's probe instead of racing it.
// Portable: no device, no POSIX call.

#include "CommControl.h"
#include "ErrorNumbers.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class ScriptedUnit;

class FakeCommPort : public CommControl
{
    // No Q_OBJECT: the class adds no signals or slots (OnComm is CommControl's).
public:
    FakeCommPort();
    /// Passes everything through to `real` and records what crossed it.
    explicit FakeCommPort(std::unique_ptr<CommControl> real);
    ~FakeCommPort() override;

    // ---- Script ---------------------------------------------------------
    /// Opening `port` throws RunTimeError(error): kErrInvalidPortNumber (no
    /// device), kErrPortAlreadyOpen (held elsewhere), kErrPermissionDenied...;
    /// 0 lets it open again.
    void failOpen(qint16 port, int error = kErrInvalidPortNumber);
    /// `unit` is on the line of `port`: it hears what is written there and
    /// its deliveries are the port's (see FakePump).
    void plug(qint16 port, ScriptedUnit &unit) { m_units.insert(port, &unit); }
    /// The unit on the line of the selected port, if any.
    ScriptedUnit *unitOnLine() const { return m_units.value(port); }
    /// Force what PortOpen() reports (nullopt: the real open state).
    void reportPortOpen(std::optional<bool> open) { reportedOpen = open; }
    /// Bytes that arrive from the line now (appended to the receive buffer).
    void queueInput(const QByteArray &bytes) { input += bytes; }
    /// The device goes away: every operation but a close throws 8020 until the port is closed.
    void loseDevice() { lost = true; }
    /// Called for every write with the bytes written and the port's state; what it
    /// returns arrives at once in the receive buffer (not with a real control).
    std::function<QByteArray(const QByteArray &written, qint16 port, const QString &settings)> responder;
    /// Called after every write and every take of the received bytes.
    std::function<void()> onTransfer;
    /// Report an event through OnComm, as the real control does for line errors.
    void raiseComm(qint16 event);
    /// With a real control: the unit on the line of `port` answers the port
    /// test's probe at `baud`. After a probe written there, a count read waits
    /// (up to kAnswerWaitMs) for the whole answer, so the probe's short wait
    /// cannot run out while a busy machine holds up the unit's thread. Counts
    /// at every other setting are read as they are: silence stays short.
    void awaitProbeAnswer(qint16 port, int baud) { m_answerBaud.insert(port, baud); }
    static constexpr int kAnswerWaitMs = 10000;

    // ---- Record ------------------------------------------------------------
    QList<QByteArray> writes;     ///< each write on its own
    QList<QByteArray> takes;      ///< each Input() on its own
    QStringList log;              ///< "CommPort=2", "Open 2 110,N,8,1", "Output 02", "Input 30", "Close 2"
    int opens = 0;                ///< successful opens

    // ---- State -----------------------------------------------------------
    qint16 port = 1;
    QString settings = QStringLiteral("19200,N,8,1");
    bool open = false;
    bool lost = false;
    qint16 commEvent = 0;
    QByteArray input;
    std::optional<bool> reportedOpen;

    // ---- CommControl ---------------------------------------------------------
    qint16 CommPort() const override;
    void setCommPort(qint16 value) override;
    QString Settings() const override;
    void setSettings(const QString &value) override;
    bool PortOpen() const override;
    void setPortOpen(bool value) override;
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int InBufferCount() override;
    qint16 CommEvent() const override;
    /// The real control's device; none without one.
    QString device() const override;

private:
    void live() const;

    std::unique_ptr<CommControl> m_real;
    QHash<qint16, int> m_answerBaud;
    bool m_answerDue = false; // a probe went out where the unit answers; its answer is not in yet
    QHash<qint16, int> m_openErrors;
    QHash<qint16, ScriptedUnit *> m_units;
};
