#pragma once
/// The simulator's end of the line: a pseudo-terminal pair it creates itself. It keeps a
/// slave descriptor open for its whole life (and never reads it), so the master does not
/// report a hang-up while the host has the slave closed between two opens; it watches the
/// slave device so it can tell when the host opens and closes it.

#include <string>

namespace k410sim {

/// Line speeds of the host's side, in baud (0 when unknown).
struct LineSpeed
{
    unsigned in = 0;
    unsigned out = 0;
};

class PseudoTerminal
{
public:
    /// Creates the pair, puts the slave in raw mode and, when `linkPath` is not empty,
    /// makes it a symlink to the slave. Throws std::runtime_error on failure.
    explicit PseudoTerminal(const std::string &linkPath);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &slavePath() const { return m_slavePath; }
    int master() const { return m_master; }
    /// inotify descriptor reporting opens and closes of the slave device.
    int watch() const { return m_watch; }
    bool isOpen() const { return m_master >= 0; }

    /// The host's line settings, read on the master.
    LineSpeed lineSpeed() const;

    /// Closes every descriptor and removes the symlink: the host sees the line hang up.
    void close();

private:
    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1;
    std::string m_slavePath;
    std::string m_linkPath;
};

/// Baud rate of a termios speed constant (0 for B0 or an unknown value).
unsigned baudOf(unsigned speedConstant);

} // namespace k410sim
