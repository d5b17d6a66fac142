#pragma once
// The serial-port control over QSerialPort (the window's MSComm1).

#include "CommControl.h"

class MSComm : public CommControl
{
    Q_OBJECT
public:
    explicit MSComm(QObject *parent = nullptr);
    ~MSComm() override;

    qint16 CommPort() const override { return m_commPort; }
    void setCommPort(qint16 port) override;
    QString Settings() const override { return m_settings; }
    void setSettings(const QString &settings) override;
    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override;
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int InBufferCount() override;
    qint16 CommEvent() const override { return m_commEvent; }

private:
    qint16 m_commPort = 1;
    QString m_settings = QStringLiteral("19200,N,8,1");
    bool m_open = false;
    qint16 m_commEvent = 0;
};
