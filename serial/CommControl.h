#pragma once
// The serial-port control as the rest of the program sees it: the properties
// and the event that the wizard, the port test and the transfer use. MSComm
// implements it over QSerialPort; tests implement it with scripted fakes.
//
// Every failing operation throws RunTimeError. Reading a property or writing
// Output never lets window events run: only the event pump does.

#include <QByteArray>
#include <QObject>
#include <QString>

class CommControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~CommControl() override = default;

    /// Port number 1 to 4. Writing it while the port is open throws.
    virtual qint16 CommPort() const = 0;
    virtual void setCommPort(qint16 port) = 0;

    /// Line settings "speed,parity,data,stop", read back exactly as written.
    virtual QString Settings() const = 0;
    virtual void setSettings(const QString &settings) = 0;

    /// True from a successful open until the owner writes False.
    virtual bool PortOpen() const = 0;
    virtual void setPortOpen(bool open) = 0;

    /// Send the bytes unchanged, in one write.
    virtual void setOutput(const QByteArray &bytes) = 0;
    /// Take every received byte waiting; empty when nothing waits.
    virtual QByteArray Input() = 0;
    /// Number of received bytes waiting.
    virtual int InBufferCount() = 0;

    /// Code of the event being reported by OnComm.
    virtual qint16 CommEvent() const = 0;

    /// The device behind the port while it is open ("/dev/ttyUSB0", "COM3"),
    /// for records and messages; empty when closed or unknown.
    virtual QString device() const { return {}; }

signals:
    /// Raised for line-state changes and line errors (never for received data).
    void OnComm();
};

/// Closes the port if it is open and lets a failure to close pass unreported.
/// For the ways out that must close whatever happened before: an ending that
/// already reports an earlier error (the first error is the one to show), a
/// port test moving on to the next port, a window going away. The control is
/// reset by its next open either way.
void closePortQuietly(CommControl &port);
