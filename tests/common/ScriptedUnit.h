#pragma once
// The unit as a script: it answers the port test's probe at its line
// settings, and plays the unit's side of every backup and upgrade exchange,
// with knobs for the faults a real unit shows. What it sends waits in a queue
// of deliveries: a FakePump hands them to the fake control one a pass (or all
// that is due at the end of a USB adapter's tick), a PtyPeer writes them to
// its pseudo-terminal one a 10 ms tick. Portable: no line, no thread, no clock.
// It computes record checks itself and shares no check code with the
// application, so one mistake cannot hide in both.

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

/// A 16-byte record: 13 data bytes then sum div 256, sum mod 256, xor.
QByteArray testRecord(const QByteArray &data13);
/// An end record (check bytes 0xFF 0xFF 0xFF) with the given data filler.
QByteArray testEndRecord(char filler = '\x5A');
/// n records of varied data, the end record, then `trailer`.
QByteArray testImage(int records, const QByteArray &trailer = QByteArrayLiteral("\x01\x02\xFE\xFF"));

class ScriptedUnit
{
public:
    enum class State { Idle, Linked, AwaitGo, Sending, AwaitBackupAck, Receiving, AwaitTrailer, Done };

    /// Firmware held by the unit: records, end record, trailer.
    QByteArray firmware;

    // Behaviour knobs.
    QString probeSetting;         ///< answers the probe 0x02 only at these line settings (empty: never)
    QList<int> probeAnswer{30};   ///< bytes of that answer, in deliveries of these sizes
    int probeAnswerPasses = 5;    ///< its first delivery comes this many passes after the probe
    int ignoredLinkRequests = 0;  ///< still switched off for this many 0x05
    int doubleAckLinks = 0;       ///< answer this many 0x05 with 0x06 0x06 in one delivery
    int lateFirstLinkAnswer = 0;  ///< passes of silence before answering the first 0x05
    QList<QByteArray> readAnswer; ///< deliveries answering "A" (empty: 0x06, then 0x05)
    QByteArray eraseAnswer = QByteArrayLiteral("\x06"); ///< delivery answering "B" once erased
    bool answerRead = true;       ///< answer "A" at all
    bool answerErase = true;      ///< answer "B" at all
    bool sendTrailer = true;      ///< send the trailer after the end record (backup)
    bool answerTrailer = true;    ///< answer the upgrade trailer at all
    QByteArray firstBlockLead = QByteArrayLiteral("\x3A");
    int corruptBlockOnce = -1;    ///< block index whose first sending has a bad check byte
    QSet<int> rejectRecordOnce;   ///< record indices answered 0x15 the first time
    int nakTrailers = 0;          ///< answer the upgrade trailer 0x15 this many times
    QByteArray strayTrailerAnswer; ///< delivered before the real answer to the trailer

    // Observations.
    State state = State::Idle;
    int blocksSent = 0;
    int recordsAccepted = 0;
    int restarts = 0;
    int bytesDuringErase = 0;     ///< record bytes that arrived before the erase was answered

    /// Bytes written by the host, as one write, at the line settings `settings`.
    void receive(const QByteArray &bytes, const QString &settings = QString());
    /// The next delivery, at most one per pass; empty when nothing is due.
    QByteArray nextDelivery();
    /// Deliveries (or passes of silence) still queued.
    bool hasOutput() const { return !m_out.isEmpty(); }

private:
    void onByte(char byte);
    void queueBlock(bool withLead);
    QByteArray blockAt(int index) const;
    int blockCount() const { return int((firmware.size() - 4) / 16); }

    QList<QByteArray> m_out;
    QString m_settings;
    QByteArray m_rx;
    QByteArray m_written;
    int m_block = 0;
    int m_recordIndex = 0;
    int m_eraseAnswerIn = -1;     ///< deliveries until the erase answer, -1 when none is due
};
