#include "Protocol.h"

#include "CommControl.h"
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
}

// Everything waiting: what an earlier wait kept, then all the control holds.
QByteArray Session::take()
{
    QByteArray bytes = std::exchange(m_carry, {});
    bytes += m_port.Input();
    return bytes;
}

// Reply poll: each pass checks the stop request, sends the repeated request
// when its answer has had its time to arrive, lets events run and takes
// everything waiting. A take that `accepts` approves as a whole ends the poll;
// anything else (noise, answers merged where they must not be) is discarded.
//
// With BackOffOnMergedAcks, a take of several 0x06 and nothing else (answers to
// earlier requests, handed over together by an adapter whose tick is longer
// than the pause) doubles the pause, up to REQUEST_PACE_MAX. Otherwise such a
// tick would hold two answers every time and the exchange would never end.
QByteArray Session::replyPoll(Accepts accepts, std::optional<char> repeatedSend, Pace pace)
{
    std::chrono::milliseconds interval = REQUEST_PACE;
    Clock::time_point nextSend = m_now();
    m_requestsSent = 0;
    for (;;) {
        checkStop();
        if (repeatedSend) {
            const Clock::time_point now = m_now();
            if (now >= nextSend) {
                send(QByteArray(1, *repeatedSend));
                ++m_requestsSent;
                m_lastRequestAt = now;
                nextSend = now + interval;
            }
            m_pump.DoEventsUntil(nextSend);
        } else {
            m_pump.DoEvents();
        }
        const QByteArray bytes = take();
        if (accepts(bytes))
            return bytes;
        if (pace == Pace::BackOffOnMergedAcks && bytes.size() > 1 && onlyAcks(bytes)) {
            interval = std::min(interval * 2, REQUEST_PACE_MAX);
            nextSend = m_lastRequestAt + interval;
        }
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
        m_carry += m_port.Input();
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

// A unit that answered a repeated request late leaves the answers to the later
// requests on their way. Taken after the exchange, such a stray 0x06 would pass
// for the answer to "B" while the unit is still erasing (the records would then
// be sent into the erase), or would jam the count of the first backup block. So
// when more than one request went out, the answers still due are given their
// time to arrive (an adapter may hold them a whole tick) and discarded before
// the next command is sent.
void Session::settle()
{
    if (m_requestsSent <= 1)
        return;
    const Clock::time_point until = m_lastRequestAt + LATE_ANSWER_WINDOW;
    while (m_now() < until) {
        checkStop();
        m_pump.DoEventsUntil(until);
        take();
    }
    take();
}

void Session::linkExchange()
{
    // Two 0x06 taken together never end the exchange; they lengthen the pause.
    replyPoll(oneAck, ENQ, Pace::BackOffOnMergedAcks);
    settle();
}

void Session::readRequest()
{
    // The unit answers "A" with 0x06 (once for each "A" it heard) and then
    // sends 0x05; an adapter may hand these over in any grouping.
    const QByteArray first = replyPoll(readAnswer, CMD_READ);
    if (first.back() != ENQ) {
        const int requests = m_requestsSent;
        replyPoll(acksThenEnq, std::nullopt); // takes of 0x06 alone are discarded
        m_requestsSent = requests;
    }
    settle();
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
    // Only the erase answer, or a late link answer merged with it, is all 0x06.
    replyPoll(onlyAcks, std::nullopt);
}

void Session::downloadRecord(const QByteArray &record, const std::function<void()> &onRejected)
{
    for (;;) {
        send(record);
        if (countWait(1) == QByteArray(1, ACK))
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
        if (answer == QByteArray(1, ACK))
            return ClosingAnswer::Completed;
        if (answer == QByteArray(1, NAK))
            return ClosingAnswer::Restart;
    }
}

} // namespace Protocol
