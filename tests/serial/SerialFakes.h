#pragma once
// Scripted stand-ins for the port test: a serial control whose "unit" answers
// after a given number of pump passes, a pump that never sleeps and tells the
// control each pass, and a view that records every change as text.

#include "CommControl.h"
#include "EventPump.h"
#include "LineSettings.h"
#include "PortTest.h"
#include "RunTimeError.h"

#include <QStringList>
#include <array>
#include <functional>

class ScriptedPort : public CommControl
{
public:
    enum class Kind { Absent, InUse, Denied, Present };
    struct Script
    {
        Kind kind = Kind::Absent;
        /// Answer: `answerLength` bytes arrive `answerAfterPasses` passes after
        /// the probe, at probe setting index `answerAt` (-1: silent).
        int answerAt = -1;
        int answerLength = 30;
        int answerAfterPasses = 5;
        /// The device goes away at this setting after this many passes (-1: never).
        int loseAt = -1;
        int loseAfterPasses = 10;
    };
    /// One probe sent, with the passes of its wait.
    struct Probe
    {
        int port = 0;
        int setting = -1;
        int passes = 0;
        EventPump::Clock::time_point sentAt;
        EventPump::Clock::time_point firstDeadline;
        EventPump::Clock::time_point lastDeadline;
    };

    std::array<Script, 5> ports; // index 1..4
    QStringList log;
    QList<Probe> probes;
    int opens = 0;

    qint16 port = 1;
    QString settings = QStringLiteral("19200,N,8,1");
    bool open = false;
    bool lost = false;
    int waiting = 0;
    int settingIndex = -1;

    qint16 CommPort() const override { return port; }
    void setCommPort(qint16 p) override
    {
        log << QStringLiteral("CommPort=%1").arg(p);
        if (open)
            throw RunTimeError(8005, QStringLiteral("Port already open"));
        if (p < 1 || p > 4)
            throw RunTimeError(8002, QStringLiteral("Invalid port number"));
        port = p;
    }
    QString Settings() const override { return settings; }
    void setSettings(const QString &s) override
    {
        LineSettings::parse(s);
        settings = s;
        settingIndex = -1;
        for (int i = 0; i < kProbeSettingCount; ++i) {
            if (s == QLatin1String(kProbeSettings[i]))
                settingIndex = i;
        }
    }
    bool PortOpen() const override { return open; }
    void setPortOpen(bool value) override
    {
        if (!value) {
            if (open)
                log << QStringLiteral("Close %1").arg(port);
            open = false;
            lost = false;
            return;
        }
        if (open)
            throw RunTimeError(8005, QStringLiteral("Port already open"));
        switch (ports[port].kind) {
        case Kind::Absent: throw RunTimeError(8002, QStringLiteral("Invalid port number: COM%1").arg(port));
        case Kind::InUse: throw RunTimeError(8005, QStringLiteral("Port already open: COM%1").arg(port));
        case Kind::Denied: throw RunTimeError(8010, QStringLiteral("Permission denied: COM%1").arg(port));
        case Kind::Present: break;
        }
        open = true;
        ++opens;
        waiting = 0;
        log << QStringLiteral("Open %1 %2").arg(port).arg(settings);
    }
    void setOutput(const QByteArray &bytes) override
    {
        live();
        log << QStringLiteral("Output %1").arg(QString::fromLatin1(bytes.toHex()));
        if (bytes == QByteArray(1, '\x02'))
            probes.append(Probe{port, settingIndex, 0, EventPump::Clock::now(), {}, {}});
    }
    QByteArray Input() override
    {
        live();
        log << QStringLiteral("Input %1").arg(waiting);
        const QByteArray taken(waiting, 'x');
        waiting = 0;
        return taken;
    }
    int InBufferCount() override
    {
        live();
        return waiting;
    }
    qint16 CommEvent() const override { return 0; }

    /// One pump pass with this deadline.
    void pass(EventPump::Clock::time_point deadline)
    {
        if (!open || probes.isEmpty())
            return;
        Probe &p = probes.last();
        if (++p.passes == 1)
            p.firstDeadline = deadline;
        p.lastDeadline = deadline;
        const Script &s = ports[port];
        if (s.answerAt == settingIndex && p.passes == s.answerAfterPasses)
            waiting += s.answerLength;
        if (s.loseAt == settingIndex && p.passes == s.loseAfterPasses)
            lost = true;
    }

private:
    void live() const
    {
        if (!open)
            throw RunTimeError(8018, QStringLiteral("Operation valid only when the port is open"));
        if (lost)
            throw RunTimeError(8020, QStringLiteral("Device lost"));
    }
};

class CountingPump : public EventPump
{
public:
    explicit CountingPump(ScriptedPort &port) : m_port(port) {}
    int passes = 0;
    /// Runs on every pass, like a window event would (after the pass count moved).
    std::function<void(int pass)> onPass;

    void DoEvents() override { DoEventsUntil(Clock::now()); }
    void DoEventsUntil(Clock::time_point deadline) override
    {
        ++passes;
        m_port.pass(deadline);
        if (onPass)
            onPass(passes);
    }
    /// Every pass is one call, and something may happen in each.
    int DoEventsPasses(int first, int, const PassDeadlines &deadline) override
    {
        DoEventsUntil(deadline(first));
        return first;
    }

private:
    ScriptedPort &m_port;
};

class RecordingView : public PortTestView
{
public:
    QStringList calls;
    QStringList unavailable;

    static QString b(bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); }
    void setComButtonEnabled(bool v) override { calls << QStringLiteral("cmdCom.Enabled=") + b(v); }
    void setComButtonVisible(bool v) override { calls << QStringLiteral("cmdCom.Visible=") + b(v); }
    void setStatusLineVisible(bool v) override { calls << QStringLiteral("Text1(6).Visible=") + b(v); }
    void setStatusText(const QString &t) override { calls << QStringLiteral("Text1(6).Text=") + t; }
    void setNextVisible(bool v) override { calls << QStringLiteral("cmdOk.Visible=") + b(v); }
    void setPreviousVisible(bool v) override { calls << QStringLiteral("cmdPrec.Visible=") + b(v); }
    void setPortFrameCaption(const QString &t) override { calls << QStringLiteral("FraCom.Caption=") + t; }
    void setPortFrameVisible(bool v) override { calls << QStringLiteral("FraCom.Visible=") + b(v); }
    void setPortOptionEnabled(int port, bool v) override
    {
        calls << QStringLiteral("optCom%1.Enabled=").arg(port) + b(v);
    }
    void setInstruction(const QString &t) override { calls << QStringLiteral("Text1(0).Text=") + t; }
    void setPowerAdapterVisible(bool v) override { calls << QStringLiteral("Image4.Visible=") + b(v); }
    void portUnavailable(int port, PortFault fault, const QString &) override
    {
        static const char *names[] = {"Absent", "InUse", "PermissionDenied", "Other"};
        unavailable << QStringLiteral("%1 %2").arg(port).arg(QLatin1String(names[int(fault)]));
    }

    /// The status line texts, in order.
    QStringList statusTexts() const
    {
        QStringList texts;
        for (const QString &c : calls) {
            if (c.startsWith(QLatin1String("Text1(6).Text=")))
                texts << c.mid(14);
        }
        return texts;
    }
    /// The calls from the first one starting with `prefix` to the end.
    QStringList callsFrom(const QString &prefix) const
    {
        for (qsizetype i = 0; i < calls.size(); ++i) {
            if (calls[i].startsWith(prefix))
                return calls.mid(i);
        }
        return {};
    }
};
