#include "SimOptions.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <limits>

namespace k410sim {

namespace {

enum class Kind { Flag, Number, Speed, Text };

struct OptionSpec
{
    const char *name;
    Kind kind;
    bool SimOptions::*flag = nullptr;
    unsigned SimOptions::*number = nullptr;
    std::string SimOptions::*text = nullptr;
    const char *arg = "";
    const char *help = "";
};

constexpr OptionSpec flag(const char *n, bool SimOptions::*m, const char *a, const char *h)
{
    return OptionSpec{n, Kind::Flag, m, nullptr, nullptr, a, h};
}
constexpr OptionSpec number(const char *n, unsigned SimOptions::*m, const char *a, const char *h)
{
    return OptionSpec{n, Kind::Number, nullptr, m, nullptr, a, h};
}
constexpr OptionSpec speed(const char *n, unsigned SimOptions::*m, const char *a, const char *h)
{
    return OptionSpec{n, Kind::Speed, nullptr, m, nullptr, a, h};
}
constexpr OptionSpec text(const char *n, std::string SimOptions::*m, const char *a, const char *h)
{
    return OptionSpec{n, Kind::Text, nullptr, nullptr, m, a, h};
}

// --seed is a 32-bit value held in its own type; it is handled apart from this table.
const OptionSpec kOptions[] = {
    text("link", &SimOptions::linkPath, "PATH", "also make PATH a symlink to the slave device"),
    speed("probe-speed", &SimOptions::probeSpeed, "N", "answer the 0x02 probe only at this line speed (19200)"),
    speed("transfer-speed", &SimOptions::transferSpeed, "N", "line speed the exchanges need, 0 = any (19200)"),
    flag("silent", &SimOptions::silent, "", "never answer anything"),
    number("answer-len", &SimOptions::answerLength, "N", "bytes in the probe answer (30)"),
    number("erase-ms", &SimOptions::eraseMs, "N", "erase time before the 0x06 after \"B\" (1500)"),
    number("power-up-after-ms", &SimOptions::powerUpAfterMs, "N", "stay silent this long after the first link request (0)"),
    text("firmware", &SimOptions::firmwarePath, "FILE", "load the unit's firmware from an image file"),
    number("records", &SimOptions::records, "N", "generate a firmware of N valid records (5041)"),
    text("write-image", &SimOptions::writeImagePath, "FILE", "write the generated image and exit"),
    text("write-damaged", &SimOptions::writeDamagedPath, "FILE", "write it with a bad check byte in the middle record and exit"),
    flag("pace", &SimOptions::pace, "", "charge 10 bits of line time per byte, both directions"),
    number("turnaround-us", &SimOptions::turnaroundUs, "N", "each answer leaves N us after the byte it answers (0)"),
    number("ready-delay-ms", &SimOptions::readyDelayMs, "N", "pause between the 0x06 and the 0x05 after \"A\" (5)"),
    number("trailer-delay-ms", &SimOptions::trailerDelayMs, "N", "pause between the backup end block and the trailer (0)"),
    number("corrupt-block", &SimOptions::corruptBlock, "K", "send backup block K once with a wrong check byte"),
    number("nak-record", &SimOptions::nakRecord, "K", "answer upgrade record K once with 0x15"),
    number("nak-trailer", &SimOptions::nakTrailer, "N", "answer the upgrade trailer N times with 0x15"),
    number("silent-after-block", &SimOptions::silentAfterBlock, "K", "fall silent once block K is sent"),
    number("silent-after-record", &SimOptions::silentAfterRecord, "K", "fall silent once record K is answered"),
    number("hangup-at-block", &SimOptions::hangupAtBlock, "K", "close the line and end instead of sending block K"),
    number("hangup-at-record", &SimOptions::hangupAtRecord, "K", "close the line and end instead of answering record K"),
    number("garbage", &SimOptions::garbage, "N", "send N noise bytes before the first link answer"),
    flag("ack-enq-together", &SimOptions::ackEnqTogether, "", "send 0x06 and 0x05 after \"A\" in one write"),
    flag("ack-repeated-reads", &SimOptions::ackRepeatedReads, "", "answer 0x06 to each \"A\" received before the 0x05"),
    flag("drop-read-on-late-a", &SimOptions::dropReadOnLateA, "", "give up the read when an \"A\" comes after the 0x05"),
    number("latency-ms", &SimOptions::latencyMs, "N", "USB adapter: hold output for the host until a tick of N ms ends"),
    number("burst-seed", &SimOptions::burstSeed, "N", "USB adapter: random bursts of 1-64 bytes, each held up to --latency-ms (32); 0 = off"),
    text("report", &SimOptions::reportPath, "FILE", "write a key=value report at the end"),
    text("out", &SimOptions::outPath, "FILE", "write the unit's final firmware at the end"),
    flag("help", &SimOptions::help, "", "this text"),
};

constexpr unsigned kSpeeds[] = {50,     75,     110,    134,    150,    200,     300,     600,     1200,
                                1800,   2400,   4800,   9600,   19200,  38400,   57600,   115200,  230400,
                                460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000,
                                3000000, 3500000, 4000000};

bool toNumber(const std::string &s, unsigned long long max, unsigned long long &value)
{
    if (s.empty())
        return false;
    const char *end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value);
    return ec == std::errc() && ptr == end && value <= max;
}

} // namespace

bool isStandardSpeed(unsigned baud)
{
    return std::find(std::begin(kSpeeds), std::end(kSpeeds), baud) != std::end(kSpeeds);
}

bool parseArguments(const std::vector<std::string> &args, SimOptions &options, std::string &error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg.rfind("--", 0) != 0) {
            error = "unexpected argument: " + arg;
            return false;
        }
        std::string name = arg.substr(2);
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            hasValue = true;
        }
        const auto takeValue = [&]() {
            if (hasValue)
                return true;
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        if (name == "seed") {
            unsigned long long v = 0;
            if (!takeValue() || !toNumber(value, std::numeric_limits<std::uint32_t>::max(), v)) {
                error = "--seed needs a number from 0 to 4294967295";
                return false;
            }
            options.seed = std::uint32_t(v);
            continue;
        }
        const auto entry = std::find_if(std::begin(kOptions), std::end(kOptions),
                                       [&name](const OptionSpec &o) { return name == o.name; });
        if (entry == std::end(kOptions)) {
            error = "unknown option: --" + name;
            return false;
        }
        if (entry->kind == Kind::Flag) {
            if (hasValue) {
                error = "--" + name + " takes no value";
                return false;
            }
            options.*(entry->flag) = true;
            continue;
        }
        if (!takeValue()) {
            error = "--" + name + " needs a value";
            return false;
        }
        if (entry->kind == Kind::Text) {
            if (value.empty()) {
                error = "--" + name + " needs a file name";
                return false;
            }
            options.*(entry->text) = value;
            continue;
        }
        unsigned long long v = 0;
        if (!toNumber(value, std::numeric_limits<unsigned>::max(), v)) {
            error = "--" + name + " needs a whole number, not \"" + value + "\"";
            return false;
        }
        if (entry->kind == Kind::Speed && v != 0 && !isStandardSpeed(unsigned(v))) {
            error = "--" + name + ": " + value + " is not a line speed";
            return false;
        }
        if (entry->kind == Kind::Speed && v == 0 && entry->number == &SimOptions::probeSpeed) {
            error = "--probe-speed needs a line speed";
            return false;
        }
        options.*(entry->number) = unsigned(v);
    }
    return true;
}

std::string usageText()
{
    std::string text = "Usage: k410-sim [options]\n"
                       "Plays the unit's side of the serial line on a pseudo-terminal. Prints the slave\n"
                       "device as the first line, runs until SIGTERM or SIGINT, then reports.\n\n";
    const auto line = [&text](const std::string &left, const char *help) {
        text += "  " + left + std::string(left.size() < 26 ? 26 - left.size() : 1, ' ') + help + "\n";
    };
    for (const OptionSpec &o : kOptions)
        line(std::string("--") + o.name + (*o.arg ? " " : "") + o.arg, o.help);
    line("--seed N", "seed of the generated firmware (1)");
    return text;
}

} // namespace k410sim
