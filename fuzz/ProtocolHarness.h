#pragma once
// The backup and upgrade procedure against a correct unit on a link, in
// virtual time: the harness of the protocol fuzz target and of its replay
// test. The input chooses the unit (when it is switched on, how long it takes
// to answer each message, which records and trailers it refuses once), the
// link (line time, an adapter's tick, random cuts and merges) and the
// technician (when Exit is pressed). The real StartProcedure runs against it,
// with the serial control, the event pump and the clock played by the
// harness, so one input runs in well under a millisecond and nothing sleeps.
//
// The oracle, checked after every run:
// - "complete" only when the unit holds exactly the image and accepted its
//   trailer, and the saved backup (when one was made) is exactly the unit's
//   firmware as it was; any backup file left is exactly that firmware;
// - no byte reaches the unit while it erases (no record before its answer);
// - once the stop request is raised, the run ends within a few passes;
// - without Exit, on a link within what the tool supports, the run completes
//   (or, for a damaged image, ends on the damaged-file ending with nothing sent).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace ProtocolHarness {

/// Longest answer delay the harness gives a unit: what the tool supports.
constexpr int kMaxTurnaroundMs = 250;
/// Longest adapter tick.
constexpr int kMaxTickMs = 255;

/// What one input chooses.
struct Scenario
{
    bool backup = true;          ///< Backup + Upgrade (else Upgrade alone)
    int unitRecords = 2;         ///< valid records of the unit's firmware (0..7)
    int imageRecords = 3;        ///< valid records of the image (0..15)
    bool damagedImage = false;   ///< the image's last valid record gets a bad check byte
    bool paced = false;          ///< 10 bits of line time per byte at 19200 baud
    bool ackRepeatedReads = false; ///< the unit answers each "A" before its 0x05 with 0x06
    bool ackEnqTogether = false; ///< 0x06 and 0x05 after "A" in one message
    bool dropReadOnLateA = false; ///< an "A" after the 0x05 makes the unit give the read up
    bool bursts = false;         ///< the adapter cuts and merges at random
    int noiseBytes = 0;          ///< noise before the first link answer (0..7)
    int powerOnMs = 0;           ///< the unit ignores everything before this
    int eraseMs = 20;            ///< time the erase takes before its 0x06
    int readyMs = 5;             ///< between the 0x06 and the 0x05 after "A"
    int tickMs = 0;              ///< the adapter's tick (0: no adapter)
    int tickPhaseUs = 0;         ///< where the adapter's free-running tick starts
    unsigned burstSeed = 0;
    unsigned nakRecords = 0;     ///< bit k: upgrade record k+1 answered 0x15 once
    int trailerNaks = 0;         ///< the upgrade trailer answered 0x15 this many times (0..3)
    unsigned corruptBlocks = 0;  ///< bit k: backup block k+1 (not the end block) sent once with a bad check byte
    int exitAtMs = -1;           ///< Exit pressed at this virtual time (-1: never)
    QByteArray turnarounds;      ///< delay of each answer in ms (each taken mod 251), cycled

    /// The scenario an input stands for (missing bytes read as 0).
    static Scenario decode(QByteArrayView input);
    /// An input that decodes to this scenario.
    QByteArray encode() const;
};

/// How a run ended, and whether the oracle held.
struct Outcome
{
    QString ending;    ///< "complete", "stopped", "damaged", "error <number>: <text>"
    QString failure;   ///< what broke the oracle; empty when it held
    int passes = 0;    ///< event pump passes
    qint64 virtualMs = 0;
    int bytesToUnit = 0;
};

/// Runs the real procedure for `scenario`, its files in `scratchDir`.
Outcome run(const Scenario &scenario, const QString &scratchDir);

} // namespace ProtocolHarness
