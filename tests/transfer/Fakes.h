#pragma once
// Test doubles for the transfer procedure: a scripted serial port, an
// in-process unit that plays the unit's side of every exchange, a pump that
// runs the unit once per pass on a scripted clock (it never sleeps), and a
// window and file dialog that record what the procedure did to them.
// The unit computes record checks itself: it shares no check code with the
// application, so one mistake cannot hide in both.

#include "CommControl.h"
#include "EventPump.h"
#include "FileDialog.h"
#include "TransferView.h"

#include <QList>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <functional>
#include <utility>

using Clock = EventPump::Clock;

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

    /// Bytes written by the host, as one write.
    void receive(const QByteArray &bytes);
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
    QByteArray m_rx;
    QByteArray m_written;
    int m_block = 0;
    int m_recordIndex = 0;
    int m_eraseAnswerIn = -1;     ///< deliveries until the erase answer, -1 when none is due
};

/// Serial control whose writes go to the unit and are logged with their time.
class FakePort : public CommControl
{
public:
    qint16 CommPort() const override { return m_port; }
    void setCommPort(qint16 port) override { m_port = port; }
    QString Settings() const override { return m_settings; }
    void setSettings(const QString &settings) override { m_settings = settings; }
    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override;
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override { requireOpen(); return std::exchange(m_in, {}); }
    int InBufferCount() override { requireOpen(); return int(m_in.size()); }
    qint16 CommEvent() const override { return 0; }

    void deliver(const QByteArray &bytes) { m_in += bytes; }

    ScriptedUnit *unit = nullptr;
    const Clock::time_point *clock = nullptr;
    bool failOpen = false;
    int opens = 0;
    QList<QByteArray> writes;
    QList<Clock::time_point> writeTimes;

private:
    void requireOpen() const;
    qint16 m_port = 1;
    QString m_settings = QStringLiteral("9600,N,8,1");
    bool m_open = false;
    QByteArray m_in;
};

class FakePump : public EventPump
{
public:
    FakePump(FakePort &port, ScriptedUnit &unit) : m_port(port), m_unit(unit) {}

    void DoEvents() override
    {
        pass();
        now += std::chrono::milliseconds(1);
    }
    /// Input ends the wait at once; otherwise the pass waits, in slices of
    /// 4 ms (spurious wake-ups), no later than the deadline.
    void DoEventsUntil(Clock::time_point deadline) override
    {
        if (pass())
            now += std::chrono::microseconds(100);
        else
            now = std::max(now, std::min(deadline, now + std::chrono::milliseconds(4)));
    }

    Clock::time_point now{std::chrono::hours(1)};
    /// A USB adapter's tick: when set, everything the unit queued reaches the
    /// port in one take at the end of each tick, instead of one delivery a pass.
    std::chrono::milliseconds tick{0};
    qint64 passes = 0;
    /// Passes after which the pump raises the stop request (a hung wait).
    qint64 budget = 100000;
    bool budgetExceeded = false;
    /// Runs at the start of every pass (where window events would run).
    std::function<void()> onPass;

private:
    bool pass();
    QByteArray delivery();
    qint64 m_tickIndex = -1;
    FakePort &m_port;
    ScriptedUnit &m_unit;
};

class FakeDialog : public FileDialog
{
public:
    struct Shown
    {
        QString kind, title, filter, fileName;
    };
    QList<Shown> shown;
    /// Answers in order; a null string cancels.
    QStringList answers;
    /// Runs as a dialog is shown (to look at the window at that moment).
    std::function<void()> onShow;

    void ShowSave() override { show(QStringLiteral("save")); }
    void ShowOpen() override { show(QStringLiteral("open")); }

private:
    void show(const QString &kind);
};

class FakeView : public TransferView
{
public:
    void setInstruction(const QString &text) override { instruction = text; }
    void setStatus(const QString &text) override
    {
        status = text;
        if (statuses.isEmpty() || statuses.last() != text)
            statuses.append(text);
    }
    void placeStatusLine() override { statusPlaced = true; }
    void setTransferPicturesVisible(bool visible) override { pictures = visible; }
    void hideStart() override { startVisible = false; }
    void setStartEnabled(bool enabled) override { startEnabled = enabled; }
    void setModeFrameVisible(bool visible) override { modeFrame = visible; }
    void showNextAndPrevious() override { navigation = true; }
    void clearModeOptions() override { optionsCleared = true; }
    float progressValue() const override { return value; }
    void setProgressValue(float v) override { value = v < 0 ? 0 : v > 100 ? 100 : v; }
    bool progressVisible() const override { return barVisible; }
    void setProgressVisible(bool visible) override { barVisible = visible; }
    void setProgressCaption(const QString &text) override
    {
        caption = text;
        steps += text != QLatin1String("0%");
    }
    void setProgressCaptionVisible(bool visible) override { captionVisible = visible; }
    void showError(const QString &text) override { error = text; errorVisible = true; }
    FileDialog &dlgOpen() override { return dialog; }

    QString instruction, status;
    QStringList statuses; ///< every status text, repeats of the same text folded
    bool statusPlaced = false, pictures = false, startVisible = true, startEnabled = true;
    bool modeFrame = false, navigation = false, optionsCleared = false;
    float value = 0;
    bool barVisible = false, captionVisible = false;
    QString caption = QStringLiteral("Label2");
    int steps = 0; ///< captions set by a progress step
    QString error;
    bool errorVisible = false;
    FakeDialog dialog;
};
