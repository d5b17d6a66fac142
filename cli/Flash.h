#pragma once
// k410-flash: the wizard's procedure from a command line, over the same cores
// (the serial control, the port test, the exchanges with the unit, the image
// files, the checked save, the run record). The program's main() hands its
// arguments and its standard streams to run(); the tests call it the same way
// with buffers.
//
//   k410-flash ports                         ports 1-4: device, and why one cannot be opened
//   k410-flash probe [--port N]              the port test: which port answers, at which speed
//   k410-flash check IMAGE                   validate an image: records, size, SHA-256; no port
//   k410-flash backup --port N FILE          read the unit out into FILE (checked save)
//   k410-flash upgrade --port N [--backup FILE] IMAGE
//   k410-flash verify --port N IMAGE         read the unit out and compare it with IMAGE

#include <QIODevice>
#include <QStringList>

namespace Flash {

/// Runs the command in `args` (the program name left out) and returns the
/// exit status. Results go to `out` (one JSON object with --json), what a
/// person reads to `err`; `terminal` says whether `err` is a terminal (a
/// one-line progress bar) or not (a line every 10%).
int run(const QStringList &args, QIODevice &out, QIODevice &err, bool terminal);

/// The usage text of --help.
QString usage();

} // namespace Flash
