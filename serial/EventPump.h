#pragma once
// The event pump: "let pending window events run once" for the long loops that
// run inside click handlers. A pass runs pending window and serial events and,
// when nothing is pending, waits briefly for something to happen, returning at
// once on serial input or user input. No pass spins.

#include <chrono>
#include <functional>

class EventPump
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~EventPump() = default;

    /// One pass with the default wait bound (kDefaultPass at most).
    virtual void DoEvents();
    /// One pass that waits no later than `deadline` (may be sub-millisecond).
    /// It returns early when user input (a key, a click, a close request) or
    /// serial activity (received bytes, an OnComm event) was handled; other
    /// events (timers, repaints) run without ending the pass. A deadline that
    /// has passed still runs the pending events once.
    virtual void DoEventsUntil(Clock::time_point deadline);

    /// Deadlines of a paced wait: pass k may last until deadline(k); never
    /// earlier than the deadline of pass k - 1.
    using PassDeadlines = std::function<Clock::time_point(int pass)>;
    /// Passes `first` to `last` of a paced wait, as one: returns the pass in
    /// which something ended the wait (the pass whose deadline had not yet
    /// come when user input or serial activity was handled), or `last` once
    /// the deadline of `last` has passed. A pass in which nothing happens
    /// would leave everything as the next one finds it, so the pump does not
    /// wake up for each: it sleeps until something happens or the last
    /// deadline, and counts the passes whose deadlines went by meanwhile.
    /// Window events run as they come, as in every pass.
    virtual int DoEventsPasses(int first, int last, const PassDeadlines &deadline);

    /// The pump the application uses.
    static EventPump &instance();

    /// Descriptors whose input ends a pass's wait (the open serial ports).
    static void watchDescriptor(int fd);
    static void unwatchDescriptor(int fd);

    /// Ends the current pass's wait at its next chance: serial controls call
    /// it when bytes arrive or an OnComm event is raised.
    static void wake();

    /// Wait bound of DoEvents().
    static constexpr std::chrono::microseconds kDefaultPass{5000};
};
