#include "CountingPort.h"

#include <QMetaObject>
#include <utility>

CountingPort::CountingPort(std::unique_ptr<CommControl> inner) : m_inner(std::move(inner))
{
    // The window listens to this control: pass the real control's events on.
    connect(m_inner.get(), &CommControl::OnComm, this, [this] { emit OnComm(); });
}

void CountingPort::setOutput(const QByteArray &bytes)
{
    m_inner->setOutput(bytes);
    if (bytes.size() == 16 || bytes.size() == 4)
        crossed(Frame::FrameSent, ++m_framesSent);
}

QByteArray CountingPort::Input()
{
    QByteArray bytes = m_inner->Input();
    if (bytes.size() >= 16 && bytes.size() <= 17 + 4)
        crossed(Frame::BlockTaken, ++m_blocksTaken);
    return bytes;
}

void CountingPort::reset()
{
    m_blocksTaken = 0;
    m_framesSent = 0;
    m_armedAt = 0;
    m_action = nullptr;
}

void CountingPort::armAt(Frame kind, int k, std::function<void()> action)
{
    m_armedKind = kind;
    m_armedAt = k;
    m_action = std::move(action);
}

void CountingPort::crossed(Frame kind, int count)
{
    if (!m_action || kind != m_armedKind || count != m_armedAt)
        return;
    QMetaObject::invokeMethod(this, std::exchange(m_action, nullptr), Qt::QueuedConnection);
}
