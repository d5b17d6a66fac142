#pragma once
// The system's requests to end the program: SIGTERM (a shutdown, `kill`),
// SIGINT (Ctrl+C in the terminal it was started from) and SIGHUP (that
// terminal closed). Each acts as Exit carried through to the end: a running
// port test or transfer is stopped, the port closed, the transfer's files let
// go, the window closed, and then the program ends.
//
// The handler itself only writes the signal's number into a pipe; everything
// else happens on the user-interface thread, from the event loop, when it
// reads the pipe (as the running loops let events run once per pass).
//
// Windows has no such signals for a windowed program: logging off or shutting
// down closes its windows, which the close box already turns into Exit.

#include <functional>

namespace EndSignals {

/// Installs the handlers. `end` runs, with the signal's number, once the
/// instruction window has closed; by default the application exits with 128 +
/// the number, as a shell reports a program ended by that signal.
void install(std::function<void(int)> end = {});

/// Puts the system's own handling back (tests).
void uninstall();

} // namespace EndSignals
