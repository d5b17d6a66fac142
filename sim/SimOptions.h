#pragma once
/// Settings of one simulated unit, and the command line of the k410-sim program that
/// fills them. A block or record number of 0 switches that fault off; numbering starts at 1.

#include <cstdint>
#include <string>
#include <vector>

namespace k410sim {

struct SimOptions
{
    std::string linkPath;              ///< --link: symlink made to the slave device
    unsigned probeSpeed = 19200;       ///< --probe-speed: the one line speed the probe is answered at
    unsigned transferSpeed = 19200;    ///< --transfer-speed: speed the exchanges need; 0 = any
    bool silent = false;               ///< --silent: never answers anything
    unsigned answerLength = 30;        ///< --answer-len: bytes of the probe answer
    unsigned eraseMs = 1500;           ///< --erase-ms: time the erase takes before its 0x06
    unsigned powerUpAfterMs = 0;       ///< --power-up-after-ms: silence after the first link request
    std::string firmwarePath;          ///< --firmware: image file loaded as the unit's firmware
    unsigned records = 5041;           ///< --records: valid records of the generated firmware
    std::uint32_t seed = 1;            ///< --seed: seed of the generated firmware
    std::string writeImagePath;        ///< --write-image: write the generated image and exit
    std::string writeDamagedPath;      ///< --write-damaged: write it with a bad middle record and exit
    bool pace = false;                 ///< --pace: charge line time for every byte, both directions
    unsigned turnaroundUs = 0;         ///< --turnaround-us: pause before each answer
    unsigned readyDelayMs = 5;         ///< --ready-delay-ms: pause between 0x06 and 0x05 after "A"
    unsigned trailerDelayMs = 0;       ///< --trailer-delay-ms: pause between the end block and the trailer
    unsigned corruptBlock = 0;         ///< --corrupt-block: send this backup block damaged once
    unsigned nakRecord = 0;            ///< --nak-record: answer this upgrade record 0x15 once
    unsigned nakTrailer = 0;           ///< --nak-trailer: answer the upgrade trailer 0x15 this many times
    unsigned silentAfterBlock = 0;     ///< --silent-after-block: fall silent once this block is sent
    unsigned silentAfterRecord = 0;    ///< --silent-after-record: fall silent once this record is answered
    unsigned hangupAtBlock = 0;        ///< --hangup-at-block: close the line instead of sending this block
    unsigned hangupAtRecord = 0;       ///< --hangup-at-record: close the line instead of answering this record
    unsigned garbage = 0;              ///< --garbage: bytes of noise sent before the first link answer
    bool ackEnqTogether = false;       ///< --ack-enq-together: 0x06 and 0x05 after "A" in one write
    bool ackRepeatedReads = false;     ///< --ack-repeated-reads: "A" received before the 0x05 is answered 0x06
    bool dropReadOnLateA = false;      ///< --drop-read-on-late-a: an "A" received after the 0x05 drops the read
    unsigned latencyMs = 0;            ///< --latency-ms: USB adapter tick; output reaches the host at tick ends
    unsigned burstSeed = 0;            ///< --burst-seed: output cut into random bursts, held up to the latency (0 = off)
    std::string reportPath;            ///< --report: key=value report written at the end
    std::string outPath;               ///< --out: the unit's final firmware written at the end
    bool help = false;                 ///< --help
};

/// Parses the program's arguments (without the program name), "--name value" or
/// "--name=value". On failure returns false and says why in `error`.
bool parseArguments(const std::vector<std::string> &args, SimOptions &options, std::string &error);

/// The usage text printed by --help and after a wrong argument.
std::string usageText();

/// The line speeds a serial line can be set to (110, 300, ... 4000000).
bool isStandardSpeed(unsigned baud);

} // namespace k410sim
