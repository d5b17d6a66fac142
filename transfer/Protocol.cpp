#include "Protocol.h"

#include "CommControl.h"
#include "Variabili.h"


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

Session::Session(CommControl &port, EventPump &pump, NowFn now)
    : m_port(port), m_pump(pump), m_now(std::move(now))
{
}

void Session::send(const QByteArray &bytes)
{
    m_port.setOutput(bytes);
}

QByteArray Session::take()
{
    return m_port.Input();
}

// Reply poll: each pass checks the stop request, sends the repeated request
// when its answer has had REQUEST_PACE to arrive, lets events run and takes
// everything waiting. Only a take that equals an accepted answer as a whole
// ends the poll; anything else (two answers at once, noise) is discarded.
QByteArray Session::replyPoll(std::initializer_list<QByteArrayView> accepted, std::optional<char> repeatedSend)
{
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
                nextSend = now + REQUEST_PACE;
            }
            m_pump.DoEventsUntil(nextSend);
        } else {
            m_pump.DoEvents();
        }
        const QByteArray bytes = take();
        for (QByteArrayView answer : accepted) {
            if (QByteArrayView(bytes) == answer)
                return bytes;
        }
    }
}

// Count wait: each pass lets events run, checks the stop request and ends when
// exactly `count` bytes wait. A count above `count` never ends it.
QByteArray Session::countWait(int count)
{
    for (;;) {
        m_pump.DoEvents();
        checkStop();
        if (m_port.InBufferCount() == count)
            return take().left(count);
    }
}

// A unit that answered a repeated request late leaves the answers to the later
// requests on their way. Taken after the exchange, such a stray 0x06 would pass
// for the answer to "B" while the unit is still erasing (the records would then
// be sent into the erase), or would jam the count of the first backup block. So
// when more than one request went out, the answers still due are given their
// time to arrive and discarded before the next command is sent.
void Session::settle()
{
    if (m_requestsSent <= 1)
        return;
    const Clock::time_point until = m_lastRequestAt + REQUEST_PACE;
    while (m_now() < until) {
        checkStop();
        m_pump.DoEventsUntil(until);
        take();
    }
    take();
}

void Session::linkExchange()
{
    replyPoll({QByteArrayView("\x06", 1)}, ENQ);
    settle();
}

void Session::readRequest()
{
    static const char ackEnq[] = {ACK, ENQ};
    // A USB adapter may hand over the unit's 0x06 and 0x05 in one take.
    const QByteArray first = replyPoll({QByteArrayView(ackEnq, 1), QByteArrayView(ackEnq, 2)}, CMD_READ);
    const int requests = m_requestsSent;
    if (first.size() == 1)
        replyPoll({QByteArrayView(ackEnq + 1, 1)}, std::nullopt);
    m_requestsSent = requests;
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
        QByteArray block = countWait(first ? FIRST_BLOCK_SIZE : RECORD_SIZE);
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
    replyPoll({QByteArrayView("\x06", 1)}, std::nullopt);
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
        if (m_port.InBufferCount() < 1)
            continue;
        const QByteArray answer = take();
        if (answer == QByteArray(1, ACK))
            return ClosingAnswer::Completed;
        if (answer == QByteArray(1, NAK))
            return ClosingAnswer::Restart;
    }
}

} // namespace Protocol
