#include "MSComm.h"
#include "CommEvents.h"
#include "EventPump.h"
#include "PlatformSerial.h"
#include "PortLock.h"
#include "PortMap.h"
#include "RunTimeError.h"
#include "Texts.h"
#include "Trace.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QTimer>

#include <limits>

namespace {

using Texts::Key;

QString say(Key key)
{
    return Texts::text(key);
}

QSerialPort::Parity toParity(char p)
{
    switch (p) {
    case 'E': return QSerialPort::EvenParity;
    case 'O': return QSerialPort::OddParity;
    case 'M': return QSerialPort::MarkParity;
    case 'S': return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toStopBits(int tenths)
{
    switch (tenths) {
    case 15: return QSerialPort::OneAndHalfStop;
    case 20: return QSerialPort::TwoStop;
    default: return QSerialPort::OneStop;
    }
}

// Adds to the trace the bytes that reached the port's buffer since it was
// last looked at; `seen` counts the buffered bytes already traced.
void traceArrivals(QSerialPort &port, qint64 &seen)
{
    const qint64 buffered = port.bytesAvailable();
    if (buffered > seen)
        Trace::received(port.peek(buffered).mid(seen));
    seen = buffered;
}

} // namespace

MSComm::MSComm(QObject *parent)
    : CommControl(parent), m_port(new QSerialPort(this)), m_linePoll(new QTimer(this)),
      m_counterSource(makePlatformLineCounterSource()), m_parsed(LineSettings::parse(m_settings))
{
    m_linePoll->setInterval(kLinePollMs);
    connect(m_linePoll, &QTimer::timeout, this, &MSComm::pollLineCounters);
    connect(m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) { onPortError(int(e)); });
    // Received bytes end the event pump's wait; they stay in the buffer until read.
    connect(m_port, &QSerialPort::readyRead, this, [this] {
        EventPump::wake();
        if (Trace::enabled())
            traceArrivals(*m_port, m_traceSeen);
    });
}

MSComm::~MSComm()
{
    if (m_open)
        closeDevice(!m_lost);
}

QString MSComm::who() const
{
    const QString device = m_device.isEmpty() ? PortMap::deviceForPort(m_commPort) : m_device;
    return device.isEmpty() ? PortMap::portLabel(m_commPort)
                            : QStringLiteral("%1 (%2)").arg(PortMap::portLabel(m_commPort), device);
}

void MSComm::setCommPort(qint16 port)
{
    if (m_open)
        throw RunTimeError(kErrPortAlreadyOpen,
                           say(Key::PortOpenSelectOther).arg(who(), QString::number(port)));
    if (port < PortMap::kFirstPort || port > PortMap::kLastPort)
        throw RunTimeError(kErrInvalidPortNumber,
                           say(Key::InvalidPortNumber).arg(port));
    m_commPort = port;
    m_device.clear();
}

void MSComm::setSettings(const QString &settings)
{
    const LineSettings parsed = LineSettings::parse(settings);
    if (m_open) {
        requireLive("Settings");
        drainOutput();
        if (!applySettings(parsed)) {
            const QString reason = m_port->errorString();
            m_port->clearError();
            applySettings(m_parsed);
            m_port->clearError();
            throw RunTimeError(kErrCommState, say(Key::CommStateRefused).arg(who(), settings, reason));
        }
    }
    m_settings = settings;
    m_parsed = parsed;
    if (m_open && Trace::enabled())
        Trace::line(QStringLiteral("SETTINGS %1 %2").arg(who(), m_settings));
}

bool MSComm::applySettings(const LineSettings &s)
{
    return m_port->setBaudRate(s.baud) && m_port->setDataBits(QSerialPort::DataBits(s.dataBits))
           && m_port->setParity(toParity(s.parity)) && m_port->setStopBits(toStopBits(s.stopBitsTenths))
           && m_port->setFlowControl(QSerialPort::NoFlowControl);
}

void MSComm::setPortOpen(bool open)
{
    if (open) {
        try {
            openDevice();
        } catch (const RunTimeError &e) {
            if (Trace::enabled())
                Trace::line(QStringLiteral("OPEN %1 %2 failed: %3 %4")
                                .arg(who(), m_settings, QString::number(e.number()), e.description()));
            throw;
        }
    } else if (m_open)
        closeDevice(!m_lost);
}

void MSComm::openDevice()
{
    if (m_open)
        throw RunTimeError(kErrPortAlreadyOpen, say(Key::PortAlreadyOpen).arg(who()));

    m_device = PortMap::deviceForPort(m_commPort);
    if (m_device.isEmpty())
        throw RunTimeError(kErrInvalidPortNumber,
                           say(Key::NoDeviceForPort).arg(who()));

    m_port->setPortName(m_device);
    applySettings(m_parsed); // stored until open applies them
    m_port->clearError();
    if (!m_port->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port->error();
        const QString reason = m_port->errorString();
        m_port->clearError();
        switch (error) {
        case QSerialPort::PermissionError:
            if (PlatformSerial::classifyRefusal(m_device) == PlatformSerial::Refusal::PermissionDenied)
                throw RunTimeError(kErrPermissionDenied,
                                   say(Key::PortPermission).arg(who()));
            // A lock left behind by a killed copy (root's, which this user
            // may not remove) is no program holding the port: say which.
            if (const QString stale = PortLock::staleLockFile(m_device); !stale.isEmpty())
                throw RunTimeError(kErrPortAlreadyOpen,
                                   say(Key::StalePortLock).arg(who(), stale));
            throw RunTimeError(kErrPortAlreadyOpen,
                               say(Key::PortInUseReason).arg(who(), reason));
        case QSerialPort::OpenError:
            throw RunTimeError(kErrPortAlreadyOpen, say(Key::PortAlreadyOpen).arg(who()));
        case QSerialPort::UnsupportedOperationError:
            if (!PlatformSerial::couldBeSerialDevice(m_device))
                throw RunTimeError(kErrInvalidPortNumber,
                                   say(Key::NotSerialDevice).arg(who(), reason));
            throw RunTimeError(kErrCommState, say(Key::CommStateRefused).arg(who(), m_settings, reason));
        default:
            throw RunTimeError(kErrInvalidPortNumber,
                               say(Key::CannotOpenAsSerial).arg(who(), reason));
        }
    }

    const qintptr handle = qintptr(m_port->handle());
    // One program per line: the lock is on the device, so another name for it
    // (a link, /dev/pts/N against a link to it) or root's open finds it taken.
    // Taken before anything else touches the line: a refused opener must not
    // flush or drain what belongs to the holder.
    if (!PlatformSerial::lockDevice(handle)) {
        m_port->close();
        m_port->clearError();
        throw RunTimeError(kErrPortAlreadyOpen,
                           say(Key::PortInUseLocked).arg(who()));
    }
    // The OS raises DTR and RTS on open; the control keeps them low. Devices
    // without modem lines (pseudo-terminals) refuse, which is fine.
    m_port->setDataTerminalReady(false);
    m_port->setRequestToSend(false);
    // Bytes that arrived before this open (a previous setting, a previous run)
    // must not be counted.
    PlatformSerial::flushReceive(handle);
    m_port->clear(QSerialPort::Input);
    m_traceSeen = 0;
    PlatformSerial::requestLowLatency(handle);
    m_port->clearError();

    m_open = true;
    m_lost = false;
    m_lossReported = false;
    ++m_generation;
#ifdef Q_OS_UNIX
    EventPump::watchDescriptor(int(handle));
#endif
    if (const std::optional<LineCounters> baseline = m_counterSource ? m_counterSource->read(handle) : std::nullopt) {
        m_lastCounters = *baseline;
        m_linePoll->start();
    }
    if (Trace::enabled())
        Trace::line(QStringLiteral("OPEN %1 %2").arg(who(), m_settings));
}

void MSComm::closeDevice(bool drain)
{
    m_linePoll->stop();
    if (Trace::enabled()) {
        if (m_port->isOpen())
            traceArrivals(*m_port, m_traceSeen);
        Trace::line(QStringLiteral("CLOSE %1").arg(who()));
    }
    m_traceSeen = 0;
    if (m_port->isOpen()) {
#ifdef Q_OS_UNIX
        EventPump::unwatchDescriptor(int(m_port->handle()));
#endif
        if (drain)
            drainOutput();
#ifdef Q_OS_WIN
        PlatformSerial::abandonWrites(qintptr(m_port->handle()));
#endif
        m_port->close();
        m_port->clearError();
    }
    m_open = false;
    m_lost = false;
    m_lossReported = false;
}

void MSComm::requireLive(const char *operation) const
{
    if (!m_open)
        throw RunTimeError(kErrPortNotOpen, say(Key::PortNotOpen).arg(QLatin1String(operation), who()));
    if (m_lost && m_lossReported)
        throw RunTimeError(kErrDeviceLost, say(Key::DeviceWentAway).arg(who(), QLatin1String(operation)));
}

void MSComm::drainOutput()
{
    if (!m_port->isOpen())
        return;
#ifdef Q_OS_WIN
    // Output never waits in QSerialPort's buffer here (setOutput): the
    // platform waits for the writes in flight and the driver's queue.
    if (!m_lost)
        PlatformSerial::drainTransmit(qintptr(m_port->handle()));
    return;
#endif
    // Bound the wait by twice the line time of what is pending, plus a second,
    // so a device that stopped taking bytes cannot hang the program.
    const qint64 pending = m_port->bytesToWrite();
    QDeadlineTimer deadline(1000 + pending * 20 * 1000 / qMax(1, m_parsed.baud));
    while (m_port->bytesToWrite() > 0 && !m_lost && !deadline.hasExpired()) {
        if (!m_port->waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
    if (!m_lost)
        PlatformSerial::drainTransmit(qintptr(m_port->handle()));
}

void MSComm::pullInput()
{
#ifdef Q_OS_WIN
    // On Windows received bytes reach the port's buffer one way only: through
    // the event loop (readyRead), which runs in the event pump's passes.
    // QSerialPort's Windows backend takes its read completions from a
    // notifier that delivers each completion either to the event loop or to a
    // waitFor... call in progress. Mixing the two loses completions (one that
    // lands during a wait gets no signal, and the bytes of its read then sit
    // out of reach) and can leave the notifier dequeuing from an empty queue.
    // Here nothing ever waits on it: no waitForReadyRead, and Output does not
    // go through QSerialPort at all (setOutput).
    return;
#else
    // Move what the OS has received into the port's buffer without running
    // the event loop; a wait that finds nothing reports TimeoutError. Asking
    // the OS first keeps the many polls of a silent line cheap.
    if (PlatformSerial::osBytesWaiting(qintptr(m_port->handle())) == 0)
        return;
    for (int chunk = 0; chunk < 16 && !m_lost; ++chunk) {
        if (!m_port->waitForReadyRead(0))
            break;
    }
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
#endif
}

void MSComm::setOutput(const QByteArray &bytes)
{
    requireLive("Output");
    if (bytes.isEmpty())
        return;
    Trace::sent(bytes);
#ifdef Q_OS_WIN
    // Straight to the driver, around QSerialPort's notifier (see pullInput).
    if (!PlatformSerial::writeNow(qintptr(m_port->handle()), bytes))
        onPortError(QSerialPort::WriteError);
#else
    m_port->write(bytes);
    // Hand the bytes to the OS now, without waiting for the line.
    while (m_port->bytesToWrite() > 0 && !m_lost && m_port->waitForBytesWritten(0)) {
    }
    if (m_port->error() == QSerialPort::TimeoutError)
        m_port->clearError();
#endif
    requireLive("Output");
}

QByteArray MSComm::Input()
{
    requireLive("Input");
    pullInput();
    requireLive("Input");
    if (Trace::enabled())
        traceArrivals(*m_port, m_traceSeen);
    m_traceSeen = 0;
    return m_port->readAll();
}

int MSComm::InBufferCount()
{
    requireLive("InBufferCount");
    pullInput();
    requireLive("InBufferCount");
    return int(qMin<qint64>(m_port->bytesAvailable(), std::numeric_limits<int>::max()));
}

void MSComm::setLineCounterSource(std::unique_ptr<LineCounterSource> source)
{
    m_counterSource = std::move(source);
}

void MSComm::onPortError(int error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::WriteError && error != QSerialPort::ResourceError)
        return;
    if (!m_open || m_lost || !m_port->isOpen())
        return;
    if (!PlatformSerial::deviceGone(qintptr(m_port->handle()))) {
        m_port->clearError(); // a passing failure; the device is still there
        return;
    }
    // Qt would go on reporting the error as fast as it can; release the device
    // from the event loop at its next pass, and fail all I/O from now on.
    m_lost = true;
    EventPump::wake();
    const unsigned generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] { releaseLostDevice(generation); }, Qt::QueuedConnection);
}

void MSComm::releaseLostDevice(unsigned generation)
{
    if (generation != m_generation || !m_open || !m_lost)
        return; // the owner closed (and perhaps reopened) the port meanwhile
    m_linePoll->stop();
    if (Trace::enabled())
        Trace::line(QStringLiteral("LOST %1").arg(who()));
    if (m_port->isOpen()) {
#ifdef Q_OS_UNIX
        EventPump::unwatchDescriptor(int(m_port->handle()));
#else
        PlatformSerial::abandonWrites(qintptr(m_port->handle()));
#endif
        m_port->close();
        m_port->clearError();
    }
    m_lossReported = true;
    raiseEvent(CommEvents::comEventDeviceLost);
}

void MSComm::pollLineCounters()
{
    if (!m_open || m_lost || !m_counterSource)
        return;
    const std::optional<LineCounters> now = m_counterSource->read(qintptr(m_port->handle()));
    if (!now)
        return;
    const QList<qint16> codes = lineEventsBetween(m_lastCounters, *now);
    m_lastCounters = *now;
    const unsigned generation = m_generation;
    for (qint16 code : codes) {
        raiseEvent(code);
        if (generation != m_generation || !m_open || m_lost)
            break; // the handler closed the port
    }
}

void MSComm::raiseEvent(qint16 code)
{
    if (Trace::enabled())
        Trace::line(QStringLiteral("EVENT %1 %2").arg(code).arg(CommEvents::eventText(code)));
    m_commEvent = code;
    EventPump::wake();
    emit OnComm();
}

QString MSComm::device() const
{
    return m_open ? m_device : QString();
}
