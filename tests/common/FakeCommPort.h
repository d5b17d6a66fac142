#pragma once
// A scripted serial-port control for tests: behaves like the window's MSComm1
// (errors included) without any device. Tests set which ports fail to open,
// script what the "unit" answers, read back every byte written and raise OnComm
// with any event code.

#include "CommControl.h"
#include "RunTimeError.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class FakeCommPort : public CommControl
{
    // No Q_OBJECT: the class adds no signals or slots (OnComm is CommControl's),
    // and a header-only test helper is not seen by moc.
public:
    /// Error numbers of the serial-port control.
    static constexpr int kErrInvalidPort = 8002;
    static constexpr int kErrPortAlreadyOpen = 8005;
    static constexpr int kErrPortNotOpen = 8018;

    using CommControl::CommControl;

    // ---- Script ---------------------------------------------------------
    /// Opening `port` throws RunTimeError(error): 8002 (no such port) or 8005 (held elsewhere).
    void failOpen(qint16 port, int error = kErrInvalidPort) { openErrors.insert(port, error); }
    /// Force what PortOpen() reports (nullopt: the real open state).
    void reportPortOpen(std::optional<bool> open) { reportedOpen = open; }
    /// Bytes that arrive from the unit now (appended to the receive buffer).
    void queueInput(const QByteArray &bytes) { input += bytes; }
    /// Called for every write with the bytes written and the port's state; what it
    /// returns arrives at once in the receive buffer.
    std::function<QByteArray(const QByteArray &written, qint16 port, const QString &settings)> responder;
    /// Report an event through OnComm, as the real control does for line errors.
    void raiseComm(qint16 event)
    {
        commEvent = event;
        emit OnComm();
    }

    // ---- Record ------------------------------------------------------------
    QByteArray output;            ///< every byte written, in order
    QList<QByteArray> writes;     ///< each write on its own
    QStringList log;              ///< "open 2 110,N,8,1", "close 2", "fail 3 8002"
    int openCount = 0;            ///< successful opens

    // ---- State -----------------------------------------------------------
    qint16 port = 1;
    QString settings = QStringLiteral("19200,N,8,1");
    bool open = false;
    qint16 commEvent = 0;
    QByteArray input;
    QHash<qint16, int> openErrors;
    std::optional<bool> reportedOpen;

    // ---- CommControl ---------------------------------------------------------
    qint16 CommPort() const override { return port; }
    void setCommPort(qint16 value) override
    {
        if (open)
            throw RunTimeError(kErrPortAlreadyOpen, QStringLiteral("Port already open"));
        if (value < 1)
            throw RunTimeError(kErrInvalidPort, QStringLiteral("Invalid port number"));
        port = value;
    }
    QString Settings() const override { return settings; }
    void setSettings(const QString &value) override { settings = value; }
    bool PortOpen() const override { return reportedOpen.value_or(open); }
    void setPortOpen(bool value) override
    {
        if (value) {
            if (open)
                throw RunTimeError(kErrPortAlreadyOpen, QStringLiteral("Port already open"));
            if (openErrors.contains(port)) {
                const int error = openErrors.value(port);
                log << QStringLiteral("fail %1 %2").arg(port).arg(error);
                throw RunTimeError(error, error == kErrPortAlreadyOpen ? QStringLiteral("Port already open")
                                                                       : QStringLiteral("Invalid port number"));
            }
            open = true;
            ++openCount;
            input.clear(); // a freshly opened port has an empty receive buffer
            log << QStringLiteral("open %1 %2").arg(port).arg(settings);
        } else if (open) {
            open = false;
            log << QStringLiteral("close %1").arg(port);
        }
    }
    void setOutput(const QByteArray &bytes) override
    {
        requireOpen();
        output += bytes;
        writes << bytes;
        if (responder)
            input += responder(bytes, port, settings);
    }
    QByteArray Input() override
    {
        requireOpen();
        QByteArray taken;
        taken.swap(input);
        return taken;
    }
    int InBufferCount() override
    {
        requireOpen();
        return int(input.size());
    }
    qint16 CommEvent() const override { return commEvent; }

private:
    void requireOpen() const
    {
        if (!open)
            throw RunTimeError(kErrPortNotOpen, QStringLiteral("Operation valid only when the port is open"));
    }
};
