#pragma once
// The event pump: "let pending window events run once" for the long loops that
// run inside click handlers. A pass runs pending window and serial events and,
// when nothing is pending, waits briefly for something to happen, returning at
// once on serial input or user input. No pass spins.

#include <chrono>

class EventPump
{
public:
    using Clock = std::chrono::steady_clock;

    virtual ~EventPump() = default;

    /// One pass with the default wait bound (a few milliseconds at most).
    virtual void DoEvents();
    /// One pass that waits no later than `deadline` (may be sub-millisecond).
    virtual void DoEventsUntil(Clock::time_point deadline);

    /// The pump the application uses.
    static EventPump &instance();

    /// Descriptors whose input ends a pass's wait (the open serial ports).
    static void watchDescriptor(int fd);
    static void unwatchDescriptor(int fd);
};
