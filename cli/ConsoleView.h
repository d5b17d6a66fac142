#pragma once
// The console standing in for the instruction window: the transfer, the port
// test and the serial event handler act on it through the same small
// interfaces the window implements. It prints the power-on instruction and
// the status texts on standard error, and the progress as a one-line bar on a
// terminal (records, bytes, rate, time left) or as a plain line every 10%
// otherwise. The file dialogs are answered with the paths of the command line.

#include "CommEvents.h"
#include "FileDialog.h"
#include "PortTest.h"
#include "TransferView.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <QString>
#include <QStringList>

class ConsoleView : public WindowlessView, public FileDialog, public PortTestView, public CommEventView
{
public:
    /// `err` receives what a person reads; nothing when `quiet`.
    ConsoleView(QIODevice &err, bool terminal, bool quiet);

    QString savePath;   ///< what the save dialog answers
    QString imagePath;  ///< what the open dialog answers
    QString phase;      ///< "backup", "upgrade", "verify": names the progress lines
    QStringList notes;  ///< ports that could not be used, notices shown
    QString lineError;  ///< the line error that stopped the transfer, if one did

    /// Ends a progress line still being drawn.
    void finishLine();

    // TransferView
    void setInstruction(const QString &text) override;
    void setStatus(const QString &text) override;
    float progressValue() const override { return m_value; }
    void setProgressValue(float value) override;
    void setProgressVisible(bool visible) override { m_barVisible = visible; }
    void setProgressCaption(const QString &) override {}
    void setProgressCaptionVisible(bool) override {}
    void progressPlanned(int steps) override;
    void showError(const QString &text) override;
    FileDialog &dlgOpen() override { return *this; }

    // FileDialog
    void ShowSave() override { FileName = savePath; }
    void ShowOpen() override { FileName = imagePath; }

    // PortTestView
    void setComButtonEnabled(bool) override {}
    void setComButtonVisible(bool) override {}
    void setStatusLineVisible(bool) override {}
    void setStatusText(const QString &text) override;
    void setNextVisible(bool) override {}
    void setPreviousVisible(bool) override {}
    void setPortFrameCaption(const QString &) override {}
    void setPortFrameVisible(bool) override {}
    void setPortOptionEnabled(int, bool) override {}
    void setPowerAdapterVisible(bool) override {}
    void portUnavailable(int port, PortFault fault, const QString &description) override;

    // CommEventView
    bool progressBarVisible() const override { return m_barVisible; }
    void showErrorBox() override {}
    void setErrorText(const QString &text) override { lineError = text; }

private:
    void say(const QString &line);
    void drawProgress();

    QIODevice &m_err;
    bool m_terminal;
    bool m_quiet;
    bool m_lineOpen = false;  ///< a bar is drawn on the current terminal line
    QString m_instruction, m_status;
    float m_value = 0;
    bool m_barVisible = false;
    int m_total = -1;         ///< steps planned, -1 when unknown
    int m_done = 0;
    int m_lastTenth = 0;
    QElapsedTimer m_clock;
};
