#pragma once
// The run record: one entry for each port test and each transfer, appended to
// "k410-bios.log" in the working folder, so that the service desk can tell
// afterwards which image went onto which unit, from which PC, and how it
// ended. Plain text, a few lines an entry, readable in any editor; never the
// firmware bytes, only sizes and SHA-256 sums. The file is kept under 1 MiB:
// when it is full it becomes "k410-bios.log.1" (replacing the one before).
// Writing the record never stops or changes a run: a failure only comes back
// as a text the caller may trace.

#include "PortTest.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace RunRecord {

constexpr const char *kFileName = "k410-bios.log";
constexpr const char *kOlderFileName = "k410-bios.log.1";
/// Size the record is kept under.
constexpr qint64 kMaxBytes = 1024 * 1024;
/// Line time of one record and its one-byte answer at 19200 baud (17 bytes of 10 bits).
constexpr std::chrono::microseconds kRecordWireTime{8854};
/// A mean answer this much above the line time means the link holds the
/// unit's answers (a USB adapter's latency timer, most often).
constexpr std::chrono::milliseconds kAdapterHintExcess{4};

/// A file named in an entry: where it is, its size and its SHA-256 sum.
struct FileFacts
{
    QString path;
    qint64 size = 0;
    QByteArray sha256Hex;
};
FileFacts factsOf(const QString &path, const QByteArray &bytes);

/// One entry.
struct Entry
{
    QDateTime started = QDateTime::currentDateTime(); ///< local time
    QString version;      ///< the program's version
    QString language;     ///< the language chosen on the start window
    QString kind;         ///< "Port test", "Backup + Upgrade", "Upgrade"
    int port = 0;         ///< 1 to 4, 0 when none was found or chosen
    QString device;       ///< the device behind the port
    QString settings;     ///< line settings used, or the one the unit answered at
    std::optional<FileFacts> image;
    std::optional<FileFacts> backup;
    int recordsSent = -1; ///< records sent to the unit, repetitions included; -1: none
    std::chrono::milliseconds duration{};
    int lineErrors = 0;
    /// Mean time from sending a record to taking its answer.
    std::optional<std::chrono::microseconds> meanRecordAnswer;
    QString ending;       ///< "complete", "stopped", "damaged image", "error 8005: ..."
    QStringList notes;    ///< further lines (ports not usable, a notice shown)

    /// The entry's lines, each ending in the platform's line break, then an empty line.
    QByteArray text() const;
};

/// The advice shown when a mean answer time per record shows an adapter's
/// timer (empty otherwise): how far above the line time it is, and how to set
/// the timer to 1 ms.
QString adapterHint(std::chrono::microseconds meanAnswer);

/// Where the record is (the working folder's "k410-bios.log").
QString path();

/// Appends `entry` to the record. Returns an empty string when it was
/// written, otherwise why not; never throws.
QString append(const Entry &entry);

/// The program's version, for an entry.
QString programVersion();
/// The language chosen on the start window, in English ("German").
QString languageName();

} // namespace RunRecord

/// cmdCom_Click: the port test (runPortTest), then its entry in the run
/// record: the port and line setting the unit answered at, or how it ended,
/// and why each port that could not be used could not.
PortTestEnding runRecordedPortTest(CommControl &MSComm1, EventPump &pump, PortTestView &view,
                                   const ProbeTiming &timing = {});

namespace RunRecord {

} // namespace RunRecord
