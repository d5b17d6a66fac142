#pragma once
// The serial-port control over QSerialPort (the window's MSComm1).
//
// Design-time configuration, never changed at run time: no handshaking, DTR
// and RTS held low, receive and send thresholds 0 (no data events), input
// length 0 (Input takes everything), bytes passed unchanged.
//
// The buffers have no fixed size. Received bytes wait in QSerialPort's buffer,
// which grows as they come, so none is dropped for want of room; capping it
// at 1024 bytes (setReadBufferSize) would only leave the rest in the driver's
// queue, which a late reader can overrun, and no exchange with the unit has
// more than a few dozen bytes waiting. Written bytes go to the OS at once
// (Output below), so there is no send buffer to size.
//
// Opening empties the receive buffer; bytes written reach the line before the
// settings change or the port closes. Properties never run window events. On
// Linux received bytes move from the OS into QSerialPort's buffer inside the
// properties; on Windows only through the event loop, which the event pump
// runs, because QSerialPort's Windows backend is sound only when its reads
// are never also waited for (Output goes to the driver directly there, so
// nothing waits on QSerialPort's notifier at all). OnComm is
// raised from the event loop only: line errors and line-state changes
// (polled every kLinePollMs while open) and the loss of the device.
//
// A lost device (adapter unplugged, far end gone) is released at once and
// reported as OnComm with CommEvents::comEventDeviceLost at the event loop's
// next pass; PortOpen keeps reading true until the owner writes False. Once
// the loss has been reported every I/O throws kErrDeviceLost; until then the
// port acts as a silent line, so a running transfer learns of the loss from
// the report (which stops it) rather than from a failing read.

#include "CommControl.h"
#include "LineErrors.h"
#include "LineSettings.h"

#include <memory>

class QSerialPort;
class QTimer;

class MSComm : public CommControl
{
    Q_OBJECT
public:
    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    qint16 CommPort() const override { return m_commPort; }
    /// 1 to 4, else 8002; while open 8005.
    void setCommPort(qint16 port) override;
    QString Settings() const override { return m_settings; }
    /// Invalid text: 380. While open the new settings apply at once, after
    /// the bytes already written have left (8015 if the device refuses them).
    void setSettings(const QString &settings) override;
    bool PortOpen() const override { return m_open; }
    /// True: 8005 if open, 8002 no device, 8005 held elsewhere (by another
    /// program or control, under any name of the device, root included), 8010
    /// not permitted, 8015 settings refused. False: drains and closes; harmless
    /// on a closed or lost port.
    void setPortOpen(bool open) override;
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int InBufferCount() override;
    qint16 CommEvent() const override { return m_commEvent; }
    QString device() const override;

    /// Polling interval of the line counters while open.
    static constexpr int kLinePollMs = 20;

    /// Where line counters come from, from the next open on (the platform's
    /// source by default; tests script one).
    void setLineCounterSource(std::unique_ptr<LineCounterSource> source);
    /// True once the device was lost, until the owner closes the port.
    bool deviceLost() const { return m_lost; }

private:
    void onPortError(int error);
    void pollLineCounters();
    void releaseLostDevice(unsigned generation);
    void raiseEvent(qint16 code);

    void openDevice();
    void closeDevice(bool drain);
    bool applySettings(const LineSettings &s);
    void pullInput();
    void drainOutput();
    void requireLive(const char *operation) const;
    QString who() const;

    QSerialPort *m_port = nullptr;
    QTimer *m_linePoll = nullptr;
    std::unique_ptr<LineCounterSource> m_counterSource;
    LineCounters m_lastCounters;

    qint16 m_commPort = 1;
    QString m_settings = QStringLiteral("19200,N,8,1");
    LineSettings m_parsed;
    QString m_device;
    bool m_open = false;
    bool m_lost = false;
    bool m_lossReported = false; // OnComm has told the owner of the loss
    unsigned m_generation = 0; // counts opens, so late loss reports find their port
    qint16 m_commEvent = 0;
    qint64 m_traceSeen = 0; // received bytes in the port's buffer already traced
};
