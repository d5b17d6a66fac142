#pragma once
// The host side of every exchange with the unit during a backup and an upgrade:
// link exchange, read request, block upload, backup closing, erase request,
// record download and upgrade closing. The exchanges see only the serial
// control and the event pump; window updates stay with the caller, which hands
// in callbacks where it must act between two steps of an exchange.
//
// Every wait lets events run once per pass and checks the stop request; a stop
// request abandons the exchange at once by throwing TransferStopped (never
// RunTimeError, which belongs to the error ending). Serial control failures
// propagate as RunTimeError.

#include "EventPump.h"

#include <QByteArray>
#include <QByteArrayView>
#include <chrono>
#include <functional>

class CommControl;

namespace Protocol {

constexpr char ENQ = 0x05;        ///< link request (host); "ready to send the firmware" (unit)
constexpr char ACK = 0x06;        ///< positive answer, go-ahead, acknowledgement of the backup trailer
constexpr char NAK = 0x15;        ///< negative answer to a block (host) or to the upgrade trailer (unit)
constexpr char CMD_READ = 'A';    ///< read request: the unit is to send its firmware
constexpr char CMD_ERASE = 'B';   ///< erase request: the unit erases and then receives a new firmware

constexpr int RECORD_SIZE = 16;       ///< one image record, on the wire and in files
constexpr int DATA_SIZE = 13;         ///< firmware bytes at the start of a record
constexpr int OFS_SUM_HI = 13;        ///< record offset of sum div 256
constexpr int OFS_SUM_LO = 14;        ///< record offset of sum mod 256
constexpr int OFS_XOR = 15;           ///< record offset of the exclusive-or of the data bytes
constexpr quint8 END_MARK = 0xFF;     ///< all three check bytes of the end record
constexpr int FIRST_BLOCK_SIZE = 17;  ///< first backup block: one leading byte, then a record
constexpr int TRAILER_SIZE = 4;       ///< bytes after the end record, passed on uninterpreted

/// Pause between link requests while the unit has not yet answered any: it is
/// being switched on, and requests close together find it as soon as it listens.
constexpr std::chrono::milliseconds REQUEST_PACE{20};
/// The longest time an answer can take to reach the host on any link the tool
/// supports: a unit that answers up to 250 ms after the request, an adapter
/// that holds received bytes up to a 255 ms tick, the line time of request and
/// answer, and a margin for a busy PC. Once nothing has been sent or received
/// for this long, no answer can still be on its way.
constexpr std::chrono::milliseconds ANSWER_WINDOW{600};

/// Check bytes of a record, computed from its 13 data bytes.
struct RecordChecks
{
    quint8 sumHi = 0;
    quint8 sumLo = 0;
    quint8 xorSum = 0;
    friend bool operator==(const RecordChecks &, const RecordChecks &) = default;
};

/// Checks over the first 13 bytes of `record` (at least 13 bytes long).
/// `beforeEachByte`, when given, runs before each data byte is taken in.
RecordChecks recordChecks(QByteArrayView record, void (*beforeEachByte)() = nullptr);
/// The check bytes stored in a 16-byte record.
RecordChecks storedChecks(QByteArrayView record);
/// A 16-byte record whose stored check bytes match its data.
bool isValidRecord(QByteArrayView record);
/// A 16-byte record whose three check bytes are all 0xFF (never valid).
bool isEndRecord(QByteArrayView record);
/// The 16-byte record holding `data` (13 bytes) and its check bytes.
QByteArray makeRecord(QByteArrayView data);

/// Thrown when a check point sees the stop request; ends the procedure normally
/// with the interruption message.
struct TransferStopped
{
};

/// Throws TransferStopped when the stop request is pending.
void checkStop();

/// How the unit answered the upgrade trailer.
enum class ClosingAnswer { Completed, Restart };

class Session
{
public:
    using Clock = EventPump::Clock;
    using NowFn = std::function<Clock::time_point()>;

    /// `now` paces the repeated requests; tests hand in a scripted clock. One
    /// session serves a whole run, so what it learns of the link carries over.
    Session(CommControl &port, EventPump &pump, NowFn now = &Clock::now);

    /// Link exchange: 0x05 until a take of exactly one 0x06 that can only be
    /// the answer to the one request in flight (see linkExchange()).
    void linkExchange();
    /// Read request: "A", repeated only once no answer can still be on its
    /// way, until a take of one or more 0x06 (0x06 bytes followed by the
    /// unit's 0x05 count as both answers); then wait for the unit's 0x05.
    void readRequest();
    /// The go-ahead 0x06 after the read request (once the backup copy exists).
    void sendGoAhead();
    /// Block upload: receives blocks until the end record. `beforeEachBlock`
    /// runs before each block is awaited; `store` receives each valid record
    /// and finally the end record (16 bytes each). The trailer may arrive in
    /// the same take as the end record; it is kept for backupClosing().
    void blockUpload(const std::function<void()> &beforeEachBlock,
                     const std::function<void(const QByteArray &)> &store);
    /// Backup closing: waits for the 4-byte trailer, hands it to `store`, then
    /// answers 0x06.
    void backupClosing(const std::function<void(const QByteArray &)> &store);
    /// Erase request: "B" once, then wait (without limit) for a take of
    /// exactly one 0x06.
    void eraseRequest();
    /// Record download of one record: sends it until the unit answers 0x06;
    /// `onRejected` runs for every other answer, before the record is repeated.
    void downloadRecord(const QByteArray &record, const std::function<void()> &onRejected);
    /// Upgrade closing: sends the trailer, then waits for 0x06 (completed) or
    /// 0x15 (start again); any other take is discarded. A 0x06 counts only once
    /// the line has stayed free of further answers for ANSWER_WINDOW: an answer
    /// after it shows the unit was still behind, and throws RunTimeError
    /// kErrAnswersOutOfStep instead of completing.
    ClosingAnswer upgradeClosing(const QByteArray &trailer);

    /// Records sent (repetitions included) and the mean time from sending a
    /// record to taking its answer: the line time of the record and the answer,
    /// the unit's turnaround and whatever the link adds (an adapter's timer).
    int recordsSent() const { return m_recordsSent; }
    Clock::duration meanRecordAnswer() const;

private:
    using Accepts = bool (*)(QByteArrayView take);
    QByteArray replyPoll(Accepts accepts);
    Clock::time_point quietUntil() const;
    std::chrono::milliseconds requestPace() const;
    void noteAnswerTime(Clock::time_point sentAt);
    void drain(const std::function<void(const QByteArray &)> &onTake = {});
    void confirmNothingOwed();
    QByteArray countWait(int count, int endRecordAt = -1);
    void send(const QByteArray &bytes);
    QByteArray take();

    CommControl &m_port;
    EventPump &m_pump;
    NowFn m_now;
    /// Bytes taken from the control that the next wait must count first: only
    /// a trailer that arrived with the end record, or an overshoot that the
    /// count wait holds until the stop request.
    QByteArray m_carry;
    /// When the host last wrote to the unit, and last took bytes from it.
    Clock::time_point m_lastSentAt{};
    Clock::time_point m_lastReceivedAt{};
    /// Longest time a matched answer took (a lone link request's, a record's):
    /// it sets the pause between link requests once the unit has been heard.
    Clock::duration m_longestAnswer{};
    Clock::duration m_recordAnswerTotal{};
    int m_recordAnswers = 0;
    int m_recordsSent = 0;
};

} // namespace Protocol
