#include "EventPump.h"
#include <QCoreApplication>

// Placeholder pass until the waiting pump lands.
void EventPump::DoEvents() { QCoreApplication::processEvents(); }
void EventPump::DoEventsUntil(Clock::time_point) { QCoreApplication::processEvents(); }
EventPump &EventPump::instance() { static EventPump pump; return pump; }
void EventPump::watchDescriptor(int) {}
void EventPump::unwatchDescriptor(int) {}
