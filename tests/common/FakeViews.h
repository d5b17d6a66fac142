#pragma once
// Recorders standing in for the instruction window behind the small
// interfaces the cores own: the port test's view, the serial event handler's
// view, and the transfer's view with its file dialog. Each keeps what was
// done to it, for a test to read back. Portable.

#include "CommEvents.h"
#include "FileDialog.h"
#include "PortTest.h"
#include "RunTimeError.h"
#include "TransferView.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

/// The status line while the port test probes `port` at probe setting `setting`.
inline QString probingText(int port, int setting)
{
    return QStringLiteral("Test com %1 Setting %2").arg(port).arg(QLatin1String(kProbeSettings[setting]));
}
/// The status lines of the first `settings` probe settings of `port`, in order.
inline QStringList probingTexts(int port, int settings = kProbeSettingCount)
{
    QStringList texts;
    for (int s = 0; s < settings; ++s)
        texts << probingText(port, s);
    return texts;
}

/// The port test's view: every change as "Control.Property=value".
class RecordingView : public PortTestView
{
public:
    QStringList calls;
    QStringList unavailable; ///< "port fault" for each port that could not be used

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

/// The serial event handler's view: "show", "text=..." and "stop", in order.
class RecordingEventView : public CommEventView
{
public:
    bool visible = false; ///< what progressBarVisible() answers
    QStringList calls;
    bool progressBarVisible() const override { return visible; }
    void showErrorBox() override { calls << QStringLiteral("show"); }
    void setErrorText(const QString &text) override { calls << QStringLiteral("text=") + text; }
    void raiseStop() override
    {
        calls << QStringLiteral("stop");
        CommEventView::raiseStop();
    }
    /// The error box texts, in order.
    QStringList texts() const
    {
        QStringList out;
        for (const QString &c : calls) {
            if (c.startsWith(QLatin1String("text=")))
                out << c.mid(5);
        }
        return out;
    }
};

/// The file dialog: answers from a list, records what each showing looked like.
class FakeDialog : public FileDialog
{
public:
    struct Shown
    {
        QString kind, title, filter, fileName;
    };
    QList<Shown> shown;
    /// Answers in order; a null string (or none left) cancels.
    QStringList answers;
    /// Runs as a dialog is shown (to look at the window at that moment).
    std::function<void()> onShow;

    void ShowSave() override { show(QStringLiteral("save")); }
    void ShowOpen() override { show(QStringLiteral("open")); }

private:
    void show(const QString &kind)
    {
        shown.append({kind, DialogTitle, Filter, FileName});
        if (onShow)
            onShow();
        const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
        if (answer.isNull())
            throw RunTimeError(kErrCancelSelected, QStringLiteral("Cancel was selected"));
        FileName = answer;
    }
};

/// The transfer's view: the state of every control it touches.
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
