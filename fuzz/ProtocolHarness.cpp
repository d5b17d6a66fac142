#include "ProtocolHarness.h"

#include "CommControl.h"
#include "EventPump.h"
#include "FileDialog.h"
#include "BackupWriter.h"
#include "StartProcedure.h"
#include "Testfile.h"
#include "TransferView.h"
#include "Variabili.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <deque>
#include <set>

namespace ProtocolHarness {

namespace {

using Micros = qint64; // virtual time since the run began

constexpr char kEnq = 0x05, kAck = 0x06, kNak = 0x15;
constexpr Micros kByteTime = 521;          ///< 10 bits at 19200 baud
constexpr Micros kMinStep = 10;            ///< every pass takes at least this long
constexpr Micros kPassLength = 5000;       ///< the longest pass of DoEvents()
constexpr Micros kIdleJump = 1000000;      ///< a pass with nothing on its way may as well last this long
constexpr Micros kHangAfter = 20000000;    ///< nothing sent, nothing moving for this long: hung
constexpr Micros kLongestRun = 300000000;  ///< no run within what the tool supports lasts this long
constexpr int kPassesAfterStop = 4;        ///< a stop request ends the run within this many passes
constexpr int kMaxPasses = 100000;

// ---------------------------------------------------------------- inputs

quint8 at(QByteArrayView in, qsizetype i)
{
    return i < in.size() ? quint8(in[i]) : 0;
}

/// A record over 13 data bytes, with the check bytes worked out here (the
/// harness shares no check code with the application).
QByteArray record(const QByteArray &data)
{
    unsigned sum = 0, x = 0;
    for (char c : data) {
        sum += quint8(c);
        x ^= quint8(c);
    }
    return data + char(sum / 256) + char(sum % 256) + char(x);
}

bool isValid(QByteArrayView r)
{
    return r.size() == 16 && record(r.first(13).toByteArray()) == r;
}

bool isEnd(QByteArrayView r)
{
    return r.size() == 16 && quint8(r[13]) == 0xFF && quint8(r[14]) == 0xFF && quint8(r[15]) == 0xFF;
}

/// `records` valid records, the end record and a trailer; `salt` makes two images differ.
QByteArray makeImage(int records, char salt)
{
    QByteArray image;
    for (int i = 0; i < records; ++i) {
        QByteArray data(13, 0);
        for (int j = 0; j < 13; ++j)
            data[j] = char(i * 29 + j * 7 + salt);
        image += record(data);
    }
    return image + QByteArray(13, salt) + QByteArray(3, char(0xFF)) + QByteArray("TR") + salt + char(0x15);
}

// ---------------------------------------------------------------- the unit

/// A correct unit: it answers every link request, sends its firmware as
/// blocks, erases and takes an image record by record, each answer leaving
/// its turnaround after the byte it answers while the unit goes on listening.
class Unit
{
public:
    Unit(const Scenario &s, QByteArray firmware) : memory(std::move(firmware)), m_s(s), m_trailerNaks(s.trailerNaks) {}

    QByteArray memory;          ///< what the unit holds
    bool upgradeCompleted = false;
    int bytesDuringErase = 0;
    int erases = 0;
    /// Bytes the unit has put on the line: when they have crossed it, and which message.
    struct Out
    {
        Micros at;
        char byte;
        int message;
    };
    std::deque<Out> out;

    void receive(Micros t, char b)
    {
        if (t < Micros(m_s.powerOnMs) * 1000)
            return; // still switched off
        if (m_state == State::GettingReady && t >= m_readyAt)
            m_state = State::AwaitGo;
        switch (m_state) {
        case State::Idle:
            if (b == kEnq) {
                if (!m_noiseSent && m_s.noiseBytes > 0)
                    send(t, QByteArray(m_s.noiseBytes, char(0x80)));
                m_noiseSent = true;
                send(t, QByteArray(1, kAck));
            } else if (b == 'A') {
                m_backup = memory; // what it sends is what it holds now
                if (m_s.ackEnqTogether) {
                    send(t, QByteArray("\x06\x05", 2));
                    m_state = State::AwaitGo;
                } else {
                    send(t, QByteArray(1, kAck));
                    m_readyAt = t + Micros(m_s.readyMs) * 1000;
                    send(m_readyAt, QByteArray(1, kEnq));
                    m_state = State::GettingReady;
                }
            } else if (b == 'B') {
                ++erases;
                memory.clear();
                m_eraseDoneAt = t + Micros(m_s.eraseMs) * 1000;
                send(m_eraseDoneAt, QByteArray(1, kAck));
                m_rx.clear();
                m_position = 1;
                m_state = State::Receiving;
            }
            break;
        case State::GettingReady:
            if (b == 'A' && m_s.ackRepeatedReads)
                send(t, QByteArray(1, kAck));
            break;
        case State::AwaitGo:
            if (b == 'A' && m_s.dropReadOnLateA)
                m_state = State::Idle; // took it for the go-ahead: the read is given up
            if (b == kAck) {
                m_block = 1;
                m_blocks = m_backup.size() / 16;
                m_state = State::Sending;
                sendBlock(t, true);
            }
            break;
        case State::Sending:
            if (b == kAck && ++m_block <= m_blocks)
                sendBlock(t, false);
            else if (b == kNak)
                sendBlock(t, false);
            break;
        case State::AwaitBackupAck:
            if (b == kAck)
                m_state = State::Idle;
            break;
        case State::Receiving:
            if (t < m_eraseDoneAt)
                ++bytesDuringErase;
            m_rx += b;
            if (m_rx.size() == 16)
                takeRecord(std::max(t, m_eraseDoneAt));
            break;
        case State::AwaitTrailer:
            m_rx += b;
            if (m_rx.size() < 4)
                break;
            memory += m_rx;
            if (m_trailerNaks > 0) {
                --m_trailerNaks;
                send(t, QByteArray(1, kNak));
            } else {
                upgradeCompleted = true;
                send(t, QByteArray(1, kAck));
            }
            m_state = State::Idle;
            break;
        }
    }

private:
    enum class State { Idle, GettingReady, AwaitGo, Sending, AwaitBackupAck, Receiving, AwaitTrailer };

    Micros turnaround()
    {
        if (m_s.turnarounds.isEmpty())
            return 0;
        const int ms = quint8(m_s.turnarounds[m_next++ % m_s.turnarounds.size()]) % (kMaxTurnaroundMs + 1);
        return Micros(ms) * 1000;
    }

    void send(Micros t, const QByteArray &bytes)
    {
        ++m_messages;
        Micros when = std::max(t + turnaround(), m_lineFree);
        for (char c : bytes) {
            when += m_s.paced ? kByteTime : 1;
            out.push_back({when, c, m_messages});
        }
        m_lineFree = when;
    }

    void sendBlock(Micros t, bool lead)
    {
        QByteArray block = m_backup.mid((m_block - 1) * 16, 16);
        // A damaged end block cannot be told from a record, and the trailer follows
        // it unanswered: nothing recovers from that, so only records are damaged.
        if (m_block < m_blocks && m_block <= 8 && (m_s.corruptBlocks & (1u << (m_block - 1)))
            && !m_corrupted.count(m_block)) {
            m_corrupted.insert(m_block);
            block[15] = char(block[15] ^ 1);
        }
        send(t, lead ? QByteArray(1, 0x3A) + block : block);
        if (m_block == m_blocks) { // the end block is not answered: the trailer follows
            send(t, m_backup.mid(m_blocks * 16, 4));
            m_state = State::AwaitBackupAck;
        }
    }

    void takeRecord(Micros t)
    {
        const QByteArray r = std::exchange(m_rx, {});
        const bool end = isEnd(r);
        if (!end && isValid(r) && m_position <= 32 && (m_s.nakRecords & (1u << (m_position - 1)))
            && !m_naked.count(m_position)) {
            m_naked.insert(m_position);
            send(t, QByteArray(1, kNak));
            return;
        }
        if (!end && !isValid(r)) {
            send(t, QByteArray(1, kNak));
            return;
        }
        memory += r;
        send(t, QByteArray(1, kAck));
        ++m_position;
        if (end)
            m_state = State::AwaitTrailer;
    }

    const Scenario &m_s;
    State m_state = State::Idle;
    QByteArray m_backup;
    QByteArray m_rx;
    Micros m_readyAt = 0, m_eraseDoneAt = 0, m_lineFree = 0;
    qsizetype m_block = 0, m_blocks = 0;
    int m_position = 1;
    int m_trailerNaks = 0;
    int m_messages = 0;
    qsizetype m_next = 0;
    bool m_noiseSent = false;
    std::set<qsizetype> m_corrupted;
    std::set<int> m_naked;
};

// ---------------------------------------------------------------- the link

/// The serial control, the event pump and the clock of one run: bytes the host
/// writes reach the unit after their line time; what the unit sends crosses
/// the adapter (a tick, or random bursts) into the receive buffer.
class Link : public CommControl, public EventPump
{
public:
    Link(const Scenario &s, Unit &unit) : m_s(s), m_unit(unit), m_rng(s.burstSeed * 2654435761u + 1) {}

    Micros now = 0;
    int passes = 0;
    int stopPass = -1;     ///< the pass in which the stop request was raised
    bool hung = false;     ///< raised by the hang guard, not by Exit
    int bytesToUnit = 0;

    // CommControl
    qint16 CommPort() const override { return m_port; }
    void setCommPort(qint16 port) override { m_port = port; }
    QString Settings() const override { return m_settings; }
    void setSettings(const QString &s) override { m_settings = s; }
    bool PortOpen() const override { return m_open; }
    void setPortOpen(bool open) override
    {
        m_open = open;
        m_input.clear();
    }
    void setOutput(const QByteArray &bytes) override
    {
        Micros when = std::max(now, m_hostLineFree);
        for (char c : bytes) {
            when += m_s.paced ? kByteTime : 1;
            m_toUnit.push_back({when, c});
        }
        m_hostLineFree = when;
        m_lastSend = now;
        m_idlePasses = 0;
        bytesToUnit += int(bytes.size());
    }
    QByteArray Input() override { return std::exchange(m_input, {}); }
    int InBufferCount() override { return int(m_input.size()); }
    qint16 CommEvent() const override { return 0; }

    // EventPump
    void DoEvents() override { pass(now + kPassLength, true); }
    void DoEventsUntil(Clock::time_point deadline) override
    {
        pass(std::chrono::duration_cast<std::chrono::microseconds>(deadline.time_since_epoch()).count(), false);
    }
    int DoEventsPasses(int first, int, const PassDeadlines &deadline) override
    {
        DoEventsUntil(deadline(first));
        return first;
    }

    Clock::time_point clock() const { return Clock::time_point(std::chrono::microseconds(now)); }

private:
    struct Byte
    {
        Micros at;
        char byte;
    };

    Micros nextEvent() const
    {
        Micros next = std::numeric_limits<Micros>::max();
        if (!m_toUnit.empty())
            next = m_toUnit.front().at;
        if (!m_unit.out.empty())
            next = std::min(next, m_unit.out.front().at);
        if (!m_held.empty())
            next = std::min(next, m_deliverAt);
        return next;
    }

    // One pass: time moves on to `target` or to the first moment bytes reach
    // the receive buffer, whichever comes first; the stop request is raised
    // when Exit's time has come or the run has hung.
    void pass(Micros target, bool plainPass)
    {
        ++passes;
        target = std::max(target, now + kMinStep);
        if (!plainPass || nextEvent() != std::numeric_limits<Micros>::max()) {
            m_idlePasses = 0;
        } else if (++m_idlePasses > 2) {
            // Nothing on its way and the host waiting without sending: nothing can
            // change until Exit, so time may as well run on in long passes.
            target = std::max(target, now + kIdleJump);
            if (m_s.exitAtMs >= 0 && stopPass < 0)
                target = std::max(now + kMinStep, std::min(target, Micros(m_s.exitAtMs) * 1000));
        }
        for (;;) {
            const Micros next = nextEvent();
            if (next > target) {
                now = target;
                break;
            }
            now = std::max(now, next);
            if (step())
                break; // bytes arrived: the pass ends early, as the real one does
        }
        raiseStopWhenDue();
    }

    // Handles the earliest event; true when bytes reached the receive buffer.
    bool step()
    {
        if (!m_toUnit.empty() && m_toUnit.front().at <= now) {
            const Byte b = m_toUnit.front();
            m_toUnit.pop_front();
            m_unit.receive(b.at, b.byte);
            m_lastActivity = now;
            return false;
        }
        if (!m_unit.out.empty() && m_unit.out.front().at <= now) {
            const Unit::Out o = m_unit.out.front();
            m_unit.out.pop_front();
            m_lastActivity = now;
            if (m_s.tickMs == 0 && !m_s.bursts) {
                deliver(QByteArray(1, o.byte));
                return true;
            }
            m_held.push_back(o);
            if (m_held.size() == 1)
                scheduleDelivery();
            return false;
        }
        if (!m_held.empty() && m_deliverAt <= now) {
            qsizetype n = m_held.size();
            if (m_s.bursts)
                n = std::min<qsizetype>(n, 1 + qsizetype(random() % 64));
            QByteArray bytes;
            for (qsizetype i = 0; i < n; ++i)
                bytes += m_held[size_t(i)].byte;
            m_held.erase(m_held.begin(), m_held.begin() + n);
            if (!m_held.empty())
                scheduleDelivery();
            deliver(bytes);
            return true;
        }
        return false;
    }

    void deliver(const QByteArray &bytes)
    {
        if (m_open)
            m_input += bytes;
    }

    unsigned random()
    {
        m_rng ^= m_rng << 13;
        m_rng ^= m_rng >> 17;
        m_rng ^= m_rng << 5;
        return m_rng;
    }

    // An adapter hands over what it holds at the end of the tick in which its
    // oldest byte came in; random bursts leave at a random moment within the
    // hold (the tick, or 32 ms).
    void scheduleDelivery()
    {
        const Micros oldest = m_held.front().at;
        if (!m_s.bursts) {
            const Micros tick = Micros(m_s.tickMs) * 1000;
            const Micros phase = m_s.tickPhaseUs % tick;
            m_deliverAt = phase + ((oldest - phase) / tick + 1) * tick;
            return;
        }
        const Micros hold = Micros(m_s.tickMs > 0 ? m_s.tickMs : 32) * 1000;
        m_deliverAt = std::max(now, oldest + Micros(random() % unsigned(hold)));
    }

    void raiseStopWhenDue()
    {
        if (stopPass >= 0)
            return;
        const bool exitNow = m_s.exitAtMs >= 0 && now >= Micros(m_s.exitAtMs) * 1000;
        const bool hangs = now - std::max(m_lastSend, m_lastActivity) > kHangAfter || now > kLongestRun
                           || passes > kMaxPasses;
        if (exitNow || hangs) {
            Variabili::strFerma = Variabili::kFerma;
            stopPass = passes;
            hung = !exitNow;
        }
    }

    const Scenario &m_s;
    Unit &m_unit;
    unsigned m_rng;
    qint16 m_port = 1;
    QString m_settings;
    bool m_open = false;
    QByteArray m_input;
    std::deque<Byte> m_toUnit;
    std::deque<Unit::Out> m_held;
    Micros m_deliverAt = 0, m_hostLineFree = 0, m_lastSend = 0, m_lastActivity = 0;
    int m_idlePasses = 0;
};

// ---------------------------------------------------------------- the window

/// The instruction window as the procedure sees it: the last status and error,
/// and the two file dialogs answered with the run's paths.
class View : public WindowlessView, public FileDialog
{
public:
    QString status, error, instruction;
    QStringList answers;

    void setInstruction(const QString &t) override { instruction = t; }
    void setStatus(const QString &t) override { status = t; }
    float progressValue() const override { return m_value; }
    void setProgressValue(float v) override { m_value = std::clamp(v, 0.0f, 100.0f); }
    void setProgressVisible(bool) override {}
    void setProgressCaption(const QString &) override {}
    void setProgressCaptionVisible(bool) override {}
    void showError(const QString &t) override { error = t; }
    FileDialog &dlgOpen() override { return *this; }
    void ShowSave() override { FileName = answers.isEmpty() ? QString() : answers.takeFirst(); }
    void ShowOpen() override { FileName = answers.isEmpty() ? QString() : answers.takeFirst(); }

private:
    float m_value = 0;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// ---------------------------------------------------------------- scenario

Scenario Scenario::decode(QByteArrayView in)
{
    Scenario s;
    const quint8 flags = at(in, 0);
    s.backup = flags & 0x01;
    s.damagedImage = flags & 0x02;
    s.paced = flags & 0x04;
    s.ackRepeatedReads = flags & 0x08;
    s.ackEnqTogether = flags & 0x10;
    s.bursts = flags & 0x20;
    s.dropReadOnLateA = flags & 0x80;
    s.unitRecords = at(in, 1) & 0x07;
    s.noiseBytes = (at(in, 1) >> 3) & 0x07;
    s.imageRecords = at(in, 2) & 0x0F;
    s.trailerNaks = (at(in, 2) >> 4) & 0x03;
    s.powerOnMs = (at(in, 3) | at(in, 4) << 8) % 3001;
    s.eraseMs = at(in, 5) * 10;
    s.readyMs = at(in, 6);
    s.tickMs = at(in, 7);
    s.tickPhaseUs = at(in, 8) * 1000;
    s.burstSeed = at(in, 9);
    s.nakRecords = at(in, 10);
    s.corruptBlocks = at(in, 11);
    s.exitAtMs = (flags & 0x40) ? (at(in, 12) | at(in, 13) << 8) * 2 : -1;
    if (in.size() > 14)
        s.turnarounds = in.sliced(14).toByteArray();
    return s;
}

QByteArray Scenario::encode() const
{
    QByteArray in(14, 0);
    in[0] = char((backup ? 0x01 : 0) | (damagedImage ? 0x02 : 0) | (paced ? 0x04 : 0) | (ackRepeatedReads ? 0x08 : 0)
                 | (ackEnqTogether ? 0x10 : 0) | (bursts ? 0x20 : 0) | (exitAtMs >= 0 ? 0x40 : 0)
                 | (dropReadOnLateA ? 0x80 : 0));
    in[1] = char((unitRecords & 0x07) | (noiseBytes & 0x07) << 3);
    in[2] = char((imageRecords & 0x0F) | (trailerNaks & 0x03) << 4);
    in[3] = char(powerOnMs & 0xFF);
    in[4] = char(powerOnMs >> 8);
    in[5] = char(eraseMs / 10);
    in[6] = char(readyMs);
    in[7] = char(tickMs);
    in[8] = char(tickPhaseUs / 1000);
    in[9] = char(burstSeed);
    in[10] = char(nakRecords);
    in[11] = char(corruptBlocks);
    const int exit = exitAtMs >= 0 ? exitAtMs / 2 : 0;
    in[12] = char(exit & 0xFF);
    in[13] = char(exit >> 8);
    return in + turnarounds;
}

// ---------------------------------------------------------------- a run

Outcome run(const Scenario &s, const QString &scratchDir)
{
    using namespace Variabili;
    if (strTitle.isEmpty())
        Testfile::LoadEnglish();
    const QString savePath = scratchDir + QStringLiteral("/saved.bak");
    const QString imagePath = scratchDir + QStringLiteral("/image.bio");
    ImageFile::BackupWriter::setWorkingDirectory(scratchDir + QStringLiteral("/work"));
    QFile::remove(savePath);
    QFile::remove(ImageFile::BackupWriter::workingFilePath());

    const QByteArray firmware = makeImage(s.unitRecords, 0x11);
    QByteArray image = makeImage(s.imageRecords, 0x22);
    if (s.damagedImage && s.imageRecords > 0)
        image[(s.imageRecords - 1) * 16 + 15] = char(image[(s.imageRecords - 1) * 16 + 15] ^ 0x40);
    {
        QFile f(imagePath);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(image) != image.size())
            return {QString(), QStringLiteral("cannot write the image to ") + imagePath};
    }

    Unit unit(s, firmware);
    Link link(s, unit);
    View view;
    view.answers = s.backup ? QStringList{savePath, imagePath} : QStringList{imagePath};
    strFerma.clear();
    bytMode = s.backup ? 1 : 2;
    intComPort = 1;

    StartProcedure procedure(link, link, view);
    procedure.setClock([&link] { return link.clock(); });
    procedure.run();

    Outcome o;
    o.passes = link.passes;
    o.virtualMs = link.now / 1000;
    o.bytesToUnit = link.bytesToUnit;
    const bool damaged = s.damagedImage && s.imageRecords > 0;
    if (!view.error.isEmpty())
        o.ending = QStringLiteral("error: ") + view.error;
    else if (view.status == strUpgrDone)
        o.ending = QStringLiteral("complete");
    else if (view.status == strTransferBroken)
        o.ending = QStringLiteral("stopped");
    else if (view.status == strFileDamaged)
        o.ending = QStringLiteral("damaged");
    else
        o.ending = QStringLiteral("status: ") + view.status;

    QStringList broken;
    const bool complete = o.ending == QLatin1String("complete");
    const QByteArray saved = readFile(savePath);
    if (complete && !unit.upgradeCompleted)
        broken << QStringLiteral("\"complete\" while the unit did not accept its trailer");
    if (complete && unit.memory != image)
        broken << QStringLiteral("\"complete\" while the unit holds %1 instead of the image %2")
                      .arg(QString::fromLatin1(unit.memory.toHex()), QString::fromLatin1(image.toHex()));
    if (complete && s.backup && saved != firmware)
        broken << QStringLiteral("\"complete\" without the backup saved exactly");
    if (QFile::exists(savePath) && saved != firmware)
        broken << QStringLiteral("the saved backup %1 is not the unit's firmware %2")
                      .arg(QString::fromLatin1(saved.toHex()), QString::fromLatin1(firmware.toHex()));
    if (unit.bytesDuringErase > 0)
        broken << QStringLiteral("%1 bytes reached the unit while it erased").arg(unit.bytesDuringErase);
    if (link.stopPass >= 0 && link.passes - link.stopPass > kPassesAfterStop)
        broken << QStringLiteral("%1 passes after the stop request").arg(link.passes - link.stopPass);
    if (damaged && unit.erases > 0)
        broken << QStringLiteral("a damaged image was sent");
    if (!link.hung && link.stopPass < 0) {
        const QString expected = damaged ? QStringLiteral("damaged") : QStringLiteral("complete");
        if (o.ending != expected)
            broken << QStringLiteral("ended %1 without Exit on a supported link").arg(o.ending);
    }
    if (link.hung)
        broken << QStringLiteral("hung (stopped after %1 virtual ms, %2 passes)").arg(o.virtualMs).arg(link.passes);
    strFerma.clear();
    o.failure = broken.join(QStringLiteral("; "));
    return o;
}

} // namespace ProtocolHarness
