#include "ScriptedUnit.h"

#include <utility>

namespace {
constexpr char kProbe = 0x02, kEnq = 0x05, kAck = 0x06, kNak = 0x15;
}

QByteArray testRecord(const QByteArray &data13)
{
    int sum = 0, x = 0;
    for (int i = 0; i < 13; ++i) {
        sum += quint8(data13[i]);
        x ^= quint8(data13[i]);
    }
    return data13.left(13) + char(sum / 256) + char(sum % 256) + char(x);
}

QByteArray testEndRecord(char filler)
{
    return QByteArray(13, filler) + QByteArray(3, '\xFF');
}

QByteArray testImage(int records, const QByteArray &trailer)
{
    QByteArray image;
    for (int i = 0; i < records; ++i) {
        QByteArray data(13, 0);
        for (int j = 0; j < 13; ++j)
            data[j] = char((i * 37 + j * 11 + 3) * (i % 5 == 4 ? 7 : 1));
        image += testRecord(data);
    }
    return image + testEndRecord() + trailer;
}

// ---------------------------------------------------------------- unit

void ScriptedUnit::receive(const QByteArray &bytes, const QString &settings)
{
    m_settings = settings;
    for (char b : bytes)
        onByte(b);
}

QByteArray ScriptedUnit::blockAt(int index) const
{
    return firmware.mid(index * 16, 16);
}

void ScriptedUnit::queueBlock(bool withLead)
{
    QByteArray block = blockAt(m_block);
    if (m_block == corruptBlockOnce) {
        block[14] = char(block[14] ^ 0x01);
        corruptBlockOnce = -1;
    }
    m_out.append(withLead ? firstBlockLead + block : block);
    ++blocksSent;
    if (m_block == blockCount() - 1) { // the end record: not answered, the trailer follows
        state = State::AwaitBackupAck;
        if (sendTrailer)
            m_out.append(firmware.mid(blockCount() * 16));
    }
}

void ScriptedUnit::onByte(char b)
{
    switch (state) {
    case State::Idle:
    case State::Linked:
    case State::Done:
        if (b == kProbe) {
            if (probeSetting.isEmpty() || m_settings != probeSetting)
                return;
            for (int pass = 1; pass < probeAnswerPasses; ++pass)
                m_out.append(QByteArray());
            for (int size : probeAnswer)
                m_out.append(QByteArray(size, 'x'));
        } else if (b == kEnq) {
            if (ignoredLinkRequests > 0) {
                --ignoredLinkRequests;
                return;
            }
            for (; lateFirstLinkAnswer > 0; --lateFirstLinkAnswer)
                m_out.append(QByteArray());
            m_out.append(doubleAckLinks-- > 0 ? QByteArray("\x06\x06") : QByteArray(1, kAck));
            state = State::Linked;
        } else if (state == State::Linked && b == 'A' && answerRead) {
            if (!readAnswer.isEmpty())
                m_out.append(readAnswer);
            else
                m_out << QByteArray(1, kAck) << QByteArray(1, kEnq);
            state = State::AwaitGo;
        } else if (state == State::Linked && b == 'B' && answerErase) {
            firmware.clear();
            m_written.clear();
            m_recordIndex = 0;
            m_eraseAnswerIn = int(m_out.size()) + 2;
            m_out << QByteArray() << QByteArray() << eraseAnswer; // erasing takes a while
            state = State::Receiving;
        }
        break;
    case State::AwaitGo:
        if (b == kAck) {
            m_block = 0;
            state = State::Sending;
            queueBlock(true);
        }
        break;
    case State::Sending:
        if (b == kAck)
            ++m_block;
        if (b == kAck || b == kNak)
            queueBlock(false);
        break;
    case State::AwaitBackupAck:
        if (b == kAck)
            state = State::Idle;
        break;
    case State::Receiving: {
        if (m_eraseAnswerIn >= 0)
            ++bytesDuringErase;
        m_rx += b;
        if (m_rx.size() < 16)
            break;
        const QByteArray record = std::exchange(m_rx, {});
        if (record.endsWith("\xFF\xFF\xFF")) {
            m_written += record;
            m_out.append(QByteArray(1, kAck));
            state = State::AwaitTrailer;
        } else if (testRecord(record) != record || rejectRecordOnce.remove(m_recordIndex)) {
            m_out.append(QByteArray(1, kNak));
        } else {
            m_written += record;
            ++m_recordIndex;
            ++recordsAccepted;
            m_out.append(QByteArray(1, kAck));
        }
        break;
    }
    case State::AwaitTrailer:
        m_rx += b;
        if (m_rx.size() < 4 || !answerTrailer)
            break;
        if (!strayTrailerAnswer.isEmpty())
            m_out.append(strayTrailerAnswer);
        if (nakTrailers > 0) {
            --nakTrailers;
            ++restarts;
            m_out.append(QByteArray(1, kNak));
            state = State::Idle;
        } else {
            firmware = m_written + m_rx;
            m_out.append(QByteArray(1, kAck));
            state = State::Done;
        }
        m_rx.clear();
        break;
    }
}

QByteArray ScriptedUnit::nextDelivery()
{
    if (m_out.isEmpty())
        return {};
    if (m_eraseAnswerIn >= 0)
        --m_eraseAnswerIn;
    return m_out.takeFirst();
}
