#pragma once
// The instruction window as the suites and the benchmark take it up: unloaded
// whatever state the last user left it in, then loaded afresh at the cable
// step with the serial control and probe wait of their choice, no dialog
// answerer and nothing pending. Portable.

#include "CommControl.h"
#include "PortTest.h"
#include "frmIstruzioni.h"

#include <memory>

namespace testwindow {

/// The window freshly loaded at the cable step in the language of `loader`
/// (English when null), with `control` as MSComm1 (a new real control when
/// null) and `timing` as its probe wait.
frmIstruzioni &freshWindow(std::unique_ptr<CommControl> control = nullptr, void (*loader)() = nullptr,
                           const ProbeTiming &timing = {});
/// Closes the port if left open, unloads the window and lets its controls go.
void unloadWindow();

} // namespace testwindow
