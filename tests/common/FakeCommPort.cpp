#include "FakeCommPort.h"

#include "LineSettings.h"
#include "PortMap.h"
#include "PortTest.h"
#include "RunTimeError.h"
#include "ScriptedUnit.h"

#include <QDeadlineTimer>
#include <chrono>
#include <thread>
#include <utility>

namespace {

/// The error as the control raises it: what the number means, and the port.
RunTimeError failure(int error, qint16 port)
{
    const ErrorNumber *entry = findErrorNumber(error);
    const std::string_view meaning = entry ? entry->meaning : std::string_view("run-time error");
    return RunTimeError(error, QStringLiteral("%1: COM%2")
                                   .arg(QLatin1String(meaning.data(), qsizetype(meaning.size())))
                                   .arg(port));
}

} // namespace

FakeCommPort::FakeCommPort() = default;

FakeCommPort::FakeCommPort(std::unique_ptr<CommControl> real) : m_real(std::move(real))
{
    // The window listens to this control: pass the real control's events on.
    connect(m_real.get(), &CommControl::OnComm, this, [this] { emit OnComm(); });
}

FakeCommPort::~FakeCommPort() = default;

void FakeCommPort::failOpen(qint16 port, int error)
{
    if (error)
        m_openErrors.insert(port, error);
    else
        m_openErrors.remove(port);
}

void FakeCommPort::raiseComm(qint16 event)
{
    commEvent = event;
    emit OnComm();
}

qint16 FakeCommPort::CommPort() const
{
    return m_real ? m_real->CommPort() : port;
}

void FakeCommPort::setCommPort(qint16 value)
{
    log << QStringLiteral("CommPort=%1").arg(value);
    if (m_real)
        return m_real->setCommPort(value);
    if (open)
        throw failure(kErrPortAlreadyOpen, port);
    if (value < PortMap::kFirstPort || value > PortMap::kLastPort)
        throw failure(kErrInvalidPortNumber, value);
    port = value;
}

QString FakeCommPort::Settings() const
{
    return m_real ? m_real->Settings() : settings;
}

void FakeCommPort::setSettings(const QString &value)
{
    if (m_real)
        return m_real->setSettings(value);
    LineSettings::parse(value); // refuses what the real control refuses
    settings = value;
}

bool FakeCommPort::PortOpen() const
{
    return m_real ? m_real->PortOpen() : reportedOpen.value_or(open);
}

void FakeCommPort::setPortOpen(bool value)
{
    const bool wasOpen = m_real ? m_real->PortOpen() : open;
    m_answerDue = false;
    if (m_real) {
        m_real->setPortOpen(value);
    } else if (value) {
        if (open)
            throw failure(kErrPortAlreadyOpen, port);
        if (const int error = m_openErrors.value(port))
            throw failure(error, port);
        open = true;
        input.clear(); // a freshly opened port has an empty receive buffer
    } else {
        open = false;
        lost = false;
    }
    if (value)
        ++opens;
    if (value || wasOpen)
        log << (value ? QStringLiteral("Open %1 %2").arg(CommPort()).arg(Settings())
                      : QStringLiteral("Close %1").arg(CommPort()));
}

void FakeCommPort::setOutput(const QByteArray &bytes)
{
    if (m_real) {
        m_real->setOutput(bytes);
        m_answerDue = bytes == QByteArray(1, kProbeByte)
                      && m_answerBaud.value(CommPort()) == LineSettings::parse(Settings()).baud;
    } else {
        live();
    }
    writes << bytes;
    log << QStringLiteral("Output %1").arg(QString::fromLatin1(bytes.toHex()));
    if (ScriptedUnit *unit = m_real ? nullptr : unitOnLine())
        unit->receive(bytes, settings);
    if (responder && !m_real)
        input += responder(bytes, port, settings);
    if (onTransfer)
        onTransfer();
}

QByteArray FakeCommPort::Input()
{
    QByteArray taken;
    m_answerDue = false;
    if (m_real) {
        taken = m_real->Input();
    } else {
        live();
        taken.swap(input);
    }
    takes << taken;
    log << QStringLiteral("Input %1").arg(taken.size());
    if (onTransfer)
        onTransfer();
    return taken;
}

int FakeCommPort::InBufferCount()
{
    if (m_real) {
        int count = m_real->InBufferCount();
        const QDeadlineTimer wait(kAnswerWaitMs);
        while (m_answerDue && count < kProbeAnswerLength && !wait.hasExpired()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            count = m_real->InBufferCount();
        }
        m_answerDue = false; // in, or not coming: later reads are read as they are
        return count;
    }
    live();
    return int(input.size());
}

qint16 FakeCommPort::CommEvent() const
{
    return m_real ? m_real->CommEvent() : commEvent;
}

QString FakeCommPort::device() const
{
    return m_real ? m_real->device() : QString();
}

void FakeCommPort::live() const
{
    if (!open)
        throw failure(kErrPortNotOpen, port);
    if (lost)
        throw failure(kErrDeviceLost, port);
}
