#pragma once
// The Start button's procedure against a scripted port and unit, for the
// transfer suite's tables: the unit on COM2 (intComPort), a fake pump whose
// clock stamps every write, and a recorder standing in for the window.

#include "FakeCommPort.h"
#include "FakePump.h"
#include "FakeViews.h"
#include "ScriptedUnit.h"
#include "StartProcedure.h"

using Clock = EventPump::Clock;

struct Rig
{
    ScriptedUnit unit;
    FakeCommPort port;
    FakePump pump{port};
    FakeView view;
    QList<Clock::time_point> writeTimes;

    Rig()
    {
        port.plug(2, unit);
        port.setSettings(QStringLiteral("9600,N,8,1")); // the procedure sets its own
        pump.budget = 100000;
        port.responder = [this](const QByteArray &, qint16, const QString &) {
            writeTimes << pump.now;
            return QByteArray();
        };
    }
    void run()
    {
        StartProcedure procedure(port, pump, view);
        procedure.setClock([this] { return pump.now; });
        procedure.run();
    }
    QByteArray wire() const { return port.writes.join(); }
};

