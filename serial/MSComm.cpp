#include "MSComm.h"
#include "RunTimeError.h"

// Placeholder until the QSerialPort implementation lands: the port never opens.
MSComm::MSComm(QObject *parent) : CommControl(parent) {}
MSComm::~MSComm() = default;
void MSComm::setCommPort(qint16 port) { m_commPort = port; }
void MSComm::setSettings(const QString &settings) { m_settings = settings; }
void MSComm::setPortOpen(bool open)
{
    if (open)
        throw RunTimeError(8002, QStringLiteral("Invalid port number"));
    m_open = false;
}
void MSComm::setOutput(const QByteArray &) { throw RunTimeError(8018, QStringLiteral("Operation valid only when the port is open")); }
QByteArray MSComm::Input() { throw RunTimeError(8018, QStringLiteral("Operation valid only when the port is open")); }
int MSComm::InBufferCount() { throw RunTimeError(8018, QStringLiteral("Operation valid only when the port is open")); }
