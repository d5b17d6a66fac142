#pragma once
// The event pump of the tests: every pass is one call, and none sleeps. It
// keeps a scripted clock (a pass in which nothing arrives moves it on towards
// its deadline in slices of 4 ms, as spurious wake-ups would), hands the port
// what the unit on its line delivers (one delivery a pass, or all that is due
// at the end of a USB adapter's tick), runs the test's action where window
// events would run, and can raise the stop request once a budget of passes is
// spent, so a wait that never ends fails instead of hanging.

#include "EventPump.h"

#include <QByteArray>
#include <QtGlobal>
#include <chrono>
#include <functional>

class FakeCommPort;

class FakePump : public EventPump
{
public:
    explicit FakePump(FakeCommPort &port) : m_port(port) {}

    void DoEvents() override;
    /// Input ends the wait at once; otherwise the pass waits, in slices of
    /// 4 ms, no later than the deadline.
    void DoEventsUntil(Clock::time_point deadline) override;
    /// Every pass is one call, and something may happen in each.
    int DoEventsPasses(int first, int last, const PassDeadlines &deadline) override;

    Clock::time_point now{std::chrono::hours(1)};
    /// A USB adapter's tick: when set, everything the unit queued reaches the
    /// port in one take at the end of each tick, instead of one delivery a pass.
    std::chrono::milliseconds tick{0};
    qint64 passes = 0;
    /// Deadline of the pass running.
    Clock::time_point deadline;
    /// Passes after which the pump raises the stop request (0: never).
    qint64 budget = 0;
    bool budgetExceeded = false;
    /// Runs at the start of every pass (where window events would run).
    std::function<void()> onPass;

private:
    bool pass();
    QByteArray delivery();
    qint64 m_tickIndex = -1;
    FakeCommPort &m_port;
};
