#pragma once
// The program's command line. It takes no arguments of its own besides
// --help and --version, which answer on the console and end the program
// before any window opens; anything else it does not know gets a short error
// instead of a window. The options of Qt itself (-platform, -style, ...) pass.

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace CommandLine {

/// What to print, where, and the exit status.
struct Answer
{
    int exitCode = 0;
    QByteArray out; ///< for standard output
    QByteArray err; ///< for standard error
};

/// The answer the arguments (program name left out) ask for, or nothing when
/// the window is to open.
std::optional<Answer> answer(const QStringList &args);

/// Prints `answer` (on Windows, where the program has no console of its own,
/// on the console of the program that started it, when there is one) and
/// returns its exit status.
int print(const Answer &answer);

} // namespace CommandLine
