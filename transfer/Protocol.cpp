#include "Protocol.h"

#include "CommControl.h"
#include "RunTimeError.h"
#include "Texts.h"
#include "Variabili.h"

#include <algorithm>
#include <utility>

namespace Protocol {

RecordChecks recordChecks(QByteArrayView record, void (*beforeEachByte)())
{
    unsigned sum = 0;
    quint8 x = 0;
    for (int i = 0; i < DATA_SIZE; ++i) {
        if (beforeEachByte)
            beforeEachByte();
        const auto b = quint8(record[i]);
        sum += b;
        x ^= b;
    }
    return {quint8(sum / 256), quint8(sum % 256), x};
}

RecordChecks storedChecks(QByteArrayView record)
{
    return {quint8(record[OFS_SUM_HI]), quint8(record[OFS_SUM_LO]), quint8(record[OFS_XOR])};
}

bool isValidRecord(QByteArrayView record)
{
    return record.size() == RECORD_SIZE && recordChecks(record) == storedChecks(record);
}

bool isEndRecord(QByteArrayView record)
{
    return record.size() == RECORD_SIZE && storedChecks(record) == RecordChecks{END_MARK, END_MARK, END_MARK};
}

QByteArray makeRecord(QByteArrayView data)
{
    QByteArray record = data.first(DATA_SIZE).toByteArray();
    const RecordChecks c = recordChecks(record);
    record.append(char(c.sumHi)).append(char(c.sumLo)).append(char(c.xorSum));
    return record;
}

void checkStop()
{
    if (Variabili::stopRequested())
        throw TransferStopped{};
}

namespace {

/// One or more 0x06 and nothing else.
bool onlyAcks(QByteArrayView take)
{
    return !take.isEmpty() && std::all_of(take.begin(), take.end(), [](char b) { return b == ACK; });
}

/// Exactly one 0x06: the answer to a link request.
bool oneAck(QByteArrayView take)
{
    return take.size() == 1 && take[0] == ACK;
}

/// Zero or more 0x06, then one 0x05, then nothing.
bool acksThenEnq(QByteArrayView take)
{
    return !take.isEmpty() && take.back() == ENQ && (take.size() == 1 || onlyAcks(take.chopped(1)));
}

/// The answer to "A": one or more 0x06, with the unit's 0x05 behind them or not.
bool readAnswer(QByteArrayView take)
{
    return onlyAcks(take) || (take.size() > 1 && acksThenEnq(take));
}

} // namespace

Session::Session(CommControl &port, EventPump &pump, NowFn now)
    : m_port(port), m_pump(pump), m_now(std::move(now))
{
}

void Session::send(const QByteArray &bytes)
{
    m_port.setOutput(bytes);
    m_lastSentAt = m_now();
}

// Everything waiting: what an earlier wait kept, then all the control holds.
QByteArray Session::take()
{
    QByteArray bytes = std::exchange(m_carry, {});
    const QByteArray received = m_port.Input();
    if (!received.isEmpty()) {
        m_lastReceivedAt = m_now();
        bytes += received;
    }
    return bytes;
}

// How answers stay matched to what they answer
// --------------------------------------------
// The unit answers every link request and read request it hears, and on a slow
// link (an adapter holding bytes for its tick, a remote or radio link, a unit
// slow to answer) an answer can arrive long after a later request went out.
// Counting cannot tell such a late answer from the answer to the last request,
// and a late 0x06 taken after the exchange would pass for the erase answer or
// a record's answer: records would go into a unit still erasing, and the host
// would run ahead of the unit.
//
// So the host never lets a repeated request leave an answer unaccounted for:
// - The line is quiet when nothing has been sent or received for ANSWER_WINDOW,
//   the longest an answer can take on a supported link. Every exchange ends
//   with nothing on its way, so the line is quiet when the next one begins.
// - A take of exactly one 0x06 ends the link exchange only when a single
//   request went out since the line was quiet: it can answer nothing else.
// - While the unit says nothing (it is being switched on), link requests go
//   out every REQUEST_PACE, so it is found as soon as it listens. Once it has
//   answered anything, requests stop until the line is quiet, and then go out
//   one at a time, each after the last one's answer window. However long the
//   link's delay or the adapter's tick within ANSWER_WINDOW, a take of one 0x06
//   then comes, and it is the answer to that request.
// - "A" is sent once, and again only after a whole answer window without an
//   answer; if it went out more than once, the host waits for the line to be
//   quiet before its go-ahead, so a late answer cannot fall among the blocks.
// - After the trailer's 0x06 the line must stay quiet for ANSWER_WINDOW: were
//   the unit still behind the host, its last answers would come in that time,
//   and the upgrade is not reported complete.
// The cost on a fast link is small: a unit already on answers the first
// request; a unit switched on during the exchange costs one answer window.

Session::Clock::time_point Session::quietUntil() const
{
    return std::max(m_lastSentAt, m_lastReceivedAt) + ANSWER_WINDOW;
}

// Pause between link requests while the unit is silent: REQUEST_PACE, or twice
// the longest answer seen so far in this run (and a little), so that on a link
// already measured the answer to the first request comes before a second one
// goes out. Only the speed depends on it, never which answer is taken.
std::chrono::milliseconds Session::requestPace() const
{
    const auto pace = std::chrono::ceil<std::chrono::milliseconds>(2 * m_longestAnswer) + std::chrono::milliseconds(10);
    return std::clamp(pace, REQUEST_PACE, ANSWER_WINDOW);
}

Session::Clock::duration Session::meanRecordAnswer() const
{
    return m_recordAnswers > 0 ? m_recordAnswerTotal / m_recordAnswers : Clock::duration::zero();
}

void Session::noteAnswerTime(Clock::time_point sentAt)
{
    m_longestAnswer = std::max(m_longestAnswer, m_lastReceivedAt - sentAt);
}

// Waits until the line is quiet, handing whatever arrives meanwhile to
// `onTake` (discarded when there is none).
void Session::drain(const std::function<void(const QByteArray &)> &onTake)
{
    for (;;) {
        checkStop();
        const Clock::time_point until = quietUntil();
        if (m_now() >= until)
            return;
        m_pump.DoEventsUntil(until);
        const QByteArray bytes = take();
        if (onTake)
            onTake(bytes);
    }
}

// Reply poll without sending: each pass checks the stop request, lets events
// run and takes everything waiting. A take that `accepts` approves as a whole
// ends the poll; anything else (noise, answers merged where they must not be)
// is discarded.
QByteArray Session::replyPoll(Accepts accepts)
{
    for (;;) {
        checkStop();
        m_pump.DoEvents();
        const QByteArray bytes = take();
        if (accepts(bytes))
            return bytes;
    }
}

// Count wait: each pass lets events run, checks the stop request and ends when
// exactly `count` bytes wait, counting those an earlier wait kept.
//
// More than `count` ends it in one case only, the one a correct unit produces:
// a block wait (`endRecordAt` is where the record starts in the block) whose
// first `count` bytes hold the end record, followed by at most the 4 trailer
// bytes, which the unit sends without waiting for an answer. The end record's
// block is returned and the rest kept for the trailer's count wait. Any other
// overshoot never ends the wait; only the stop request does.
QByteArray Session::countWait(int count, int endRecordAt)
{
    for (;;) {
        m_pump.DoEvents();
        checkStop();
        const qsizetype waiting = m_carry.size() + m_port.InBufferCount();
        if (waiting < count || (waiting > count && endRecordAt < 0))
            continue;
        // Bytes may have arrived since they were counted; decide on what was taken.
        const QByteArray received = m_port.Input();
        if (!received.isEmpty())
            m_lastReceivedAt = m_now();
        m_carry += received;
        if (m_carry.size() == count)
            return std::exchange(m_carry, {});
        if (endRecordAt >= 0 && m_carry.size() > count && m_carry.size() - count <= TRAILER_SIZE
            && isEndRecord(QByteArrayView(m_carry).sliced(endRecordAt, RECORD_SIZE))) {
            const QByteArray block = m_carry.left(count);
            m_carry.remove(0, count);
            return block;
        }
    }
}

void Session::linkExchange()
{
    const QByteArray request(1, ENQ);
    const std::chrono::milliseconds pace = requestPace();
    int sinceQuiet = 0;      // requests sent since the line was last quiet
    bool unitHeard = false;  // some answer came: the unit is on
    Clock::time_point nextSend = m_now();
    for (;;) {
        checkStop();
        const Clock::time_point now = m_now();
        if (!unitHeard && now >= nextSend) {
            send(request);
            ++sinceQuiet;
            nextSend = now + pace;
        } else if (unitHeard && now >= quietUntil()) {
            send(request);
            sinceQuiet = 1;
        }
        m_pump.DoEventsUntil(unitHeard ? quietUntil() : nextSend);
        const QByteArray bytes = take();
        if (bytes.isEmpty())
            continue;
        if (sinceQuiet == 1 && oneAck(bytes)) {
            noteAnswerTime(m_lastSentAt);
            return;
        }
        // Several 0x06 together, or one that may answer an earlier request:
        // the unit is on, and requests now wait for a quiet line.
        if (bytes.contains(ACK))
            unitHeard = true;
    }
}

void Session::readRequest()
{
    // The unit answers "A" with 0x06 and then sends 0x05; an adapter may hand
    // these over together or apart.
    const QByteArray request(1, CMD_READ);
    int sent = 0;
    QByteArray answer;
    for (;;) {
        checkStop();
        if (sent == 0 || m_now() >= quietUntil()) {
            send(request);
            ++sent;
        }
        m_pump.DoEventsUntil(quietUntil());
        answer = take();
        if (readAnswer(answer))
            break;
    }
    if (answer.back() != ENQ)
        replyPoll(acksThenEnq); // takes of 0x06 alone are discarded
    if (sent > 1)
        drain();
}

void Session::sendGoAhead()
{
    send(QByteArray(1, ACK));
}

void Session::blockUpload(const std::function<void()> &beforeEachBlock,
                          const std::function<void(const QByteArray &)> &store)
{
    qint32 blockCounter = 1;
    for (;;) {
        beforeEachBlock();
        const bool first = blockCounter == 1;
        QByteArray block = first ? countWait(FIRST_BLOCK_SIZE, 1) : countWait(RECORD_SIZE, 0);
        checkStop();
        if (first)
            block.remove(0, 1); // leading byte: dropped unexamined
        ++blockCounter;
        if (isValidRecord(block)) {
            store(block);
            send(QByteArray(1, ACK));
        } else if (isEndRecord(block)) {
            store(block); // not answered: the trailer follows
            return;
        } else {
            send(QByteArray(1, NAK)); // the unit repeats the block as 16 bytes
        }
    }
}

void Session::backupClosing(const std::function<void(const QByteArray &)> &store)
{
    store(countWait(TRAILER_SIZE));
    send(QByteArray(1, ACK));
}

void Session::eraseRequest()
{
    send(QByteArray(1, CMD_ERASE));
    replyPoll(oneAck);
}

void Session::downloadRecord(const QByteArray &record, const std::function<void()> &onRejected)
{
    for (;;) {
        send(record);
        ++m_recordsSent;
        const Clock::time_point sentAt = m_lastSentAt;
        const QByteArray answer = countWait(1);
        noteAnswerTime(sentAt);
        m_recordAnswerTotal += std::max(m_lastReceivedAt - sentAt, Clock::duration::zero());
        ++m_recordAnswers;
        if (answer == QByteArray(1, ACK))
            return;
        onRejected();
    }
}

ClosingAnswer Session::upgradeClosing(const QByteArray &trailer)
{
    send(trailer);
    for (;;) {
        m_pump.DoEvents();
        checkStop();
        if (m_carry.isEmpty() && m_port.InBufferCount() < 1)
            continue;
        const QByteArray answer = take();
        if (answer == QByteArray(1, ACK)) {
            confirmNothingOwed();
            return ClosingAnswer::Completed;
        }
        if (answer == QByteArray(1, NAK))
            return ClosingAnswer::Restart;
    }
}

// After the trailer's 0x06 the unit owes nothing. Had a late answer been taken
// for a later one, the unit would still be answering the last records or the
// trailer, and those answers would come within one answer window. Bytes other
// than answers (a unit starting its new firmware may say something) are let be.
void Session::confirmNothingOwed()
{
    drain([](const QByteArray &bytes) {
        if (bytes.contains(ACK) || bytes.contains(NAK))
            throw RunTimeError(kErrAnswersOutOfStep, Texts::text(Texts::Key::AnswersOutOfStep));
    });
}

} // namespace Protocol
