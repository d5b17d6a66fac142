#pragma once
// The system's requests to stop the program, turned into a call on the
// user-interface thread: SIGTERM (a shutdown, `kill`), SIGINT (Ctrl+C in the
// terminal it was started from) and SIGHUP (that terminal closed); on Windows
// Ctrl+C, Ctrl+Break and the closing of the console a console program runs in.
//
// The handler itself only writes the signal's number into a pipe (on Windows:
// posts it to the event loop); the callback runs from the event loop when it
// reads it, that is in a pass of the event pump while a long operation runs.

#include <functional>

namespace StopSignals {

/// Installs the handlers; `onSignal` runs with the signal's number (SIGINT
/// for Ctrl+C, SIGTERM for Windows' console close) each time one arrives.
void install(std::function<void(int signo)> onSignal);

/// Puts the system's own handling back.
void uninstall();

} // namespace StopSignals
