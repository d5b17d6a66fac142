#pragma once
/// The simulated unit: plays the unit's side of every exchange over a pseudo-terminal it
/// owns. Run it on the calling thread with run(), or on its own thread with start(); stop()
/// ends it, and it also ends by itself on a hang-up fault. At the end it writes the report
/// and the final firmware to the files named in its options.

#include "SimImage.h"
#include "SimOptions.h"
#include "SimReport.h"

#include <memory>
#include <string>

namespace k410sim {

class UnitSimulator
{
public:
    /// Creates the pseudo-terminal and loads or generates the firmware.
    /// Throws std::runtime_error when either fails.
    explicit UnitSimulator(const SimOptions &options);
    ~UnitSimulator();
    UnitSimulator(const UnitSimulator &) = delete;
    UnitSimulator &operator=(const UnitSimulator &) = delete;

    /// The slave device the host opens, e.g. "/dev/pts/3".
    const std::string &slavePath() const;

    /// Runs the unit on the calling thread until a stop request or a hang-up fault.
    void run();
    /// Runs the unit on a thread of its own.
    void start();
    /// Asks the unit to end; safe to call from a signal handler.
    void requestStop() noexcept;
    /// Asks the unit to end and waits for the thread that start() began.
    void stop();
    /// True once run() has ended (stopped or hung up) and written its files.
    bool finished() const;

    /// What the unit saw so far (a copy; counters move only after the answer is sent).
    SimReport report() const;
    /// The unit's firmware as it stands now.
    Bytes firmware() const;

private:
    class Engine;
    std::unique_ptr<Engine> d;
};

} // namespace k410sim
