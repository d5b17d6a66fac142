#include "FakePump.h"

#include "FakeCommPort.h"
#include "ScriptedUnit.h"
#include "Variabili.h"

#include <algorithm>

void FakePump::DoEvents()
{
    deadline = now;
    pass();
    now += std::chrono::milliseconds(1);
}

void FakePump::DoEventsUntil(Clock::time_point until)
{
    deadline = until;
    if (pass())
        now += std::chrono::microseconds(100);
    else
        now = std::max(now, std::min(until, now + std::chrono::milliseconds(4)));
}

int FakePump::DoEventsPasses(int first, int, const PassDeadlines &deadlines)
{
    DoEventsUntil(deadlines(first));
    return first;
}

bool FakePump::pass()
{
    ++passes;
    if (onPass)
        onPass();
    if (budget > 0 && passes > budget && !budgetExceeded) {
        budgetExceeded = true;
        Variabili::strFerma = Variabili::kFerma;
    }
    const QByteArray bytes = delivery();
    if (!bytes.isEmpty() && m_port.PortOpen())
        m_port.queueInput(bytes);
    return !bytes.isEmpty();
}

QByteArray FakePump::delivery()
{
    ScriptedUnit *unit = m_port.unitOnLine();
    if (!unit)
        return {};
    if (tick <= tick.zero())
        return unit->nextDelivery();
    const auto index = now.time_since_epoch() / tick;
    if (index == m_tickIndex)
        return {}; // still in the tick of the last delivery
    m_tickIndex = index;
    QByteArray bytes;
    while (unit->hasOutput())
        bytes += unit->nextDelivery();
    return bytes;
}
