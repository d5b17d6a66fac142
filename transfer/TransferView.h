#pragma once
// What the backup and upgrade procedure needs of the instruction window. The
// window implements it over its controls; tests implement it with a recorder.
// Every call only changes a control: none lets events run.

class FileDialog;
class QString;

class TransferView
{
public:
    virtual ~TransferView() = default;

    /// Instruction box Text1(0): its text.
    virtual void setInstruction(const QString &text) = 0;
    /// Status line Text1(6): its text.
    virtual void setStatus(const QString &text) = 0;
    /// Status line Text1(6): move it to Left 360, Top 3600 twips (x 24, y 240
    /// pixels) and show it.
    virtual void placeStatusLine() = 0;
    /// Transfer pictures Image5 and Image6: show or hide both.
    virtual void setTransferPicturesVisible(bool visible) = 0;
    /// cmdStart: hide it.
    virtual void hideStart() = 0;
    /// cmdStart: enable or disable it.
    virtual void setStartEnabled(bool enabled) = 0;
    /// Mode frame fraMode: show or hide it.
    virtual void setModeFrameVisible(bool visible) = 0;
    /// Show Next (cmdOk) and Previous (cmdPrec).
    virtual void showNextAndPrevious() = 0;
    /// Leave both mode options (optBakUp, optUpgr) unselected.
    virtual void clearModeOptions() = 0;

    /// ProgressBar1: single-precision Value, held within 0..100 by the bar.
    virtual float progressValue() const = 0;
    virtual void setProgressValue(float value) = 0;
    /// ProgressBar1: show or hide it.
    virtual void setProgressVisible(bool visible) = 0;
    /// Label2: caption and visibility.
    virtual void setProgressCaption(const QString &caption) = 0;
    virtual void setProgressCaptionVisible(bool visible) = 0;

    /// The progress steps that follow: the image's records with its end record
    /// for a download, -1 for a backup (whose length shows only at its end).
    /// The window has no use for it; a console front end shows the time left.
    virtual void progressPlanned(int steps) { (void)steps; }

    /// Error box txtError: make it visible and show `text` in it.
    virtual void showError(const QString &text) = 0;

    /// The window's file dialog dlgOpen (one control for save and open).
    virtual FileDialog &dlgOpen() = 0;
};

/// A view without a window (a console, a harness): the calls that only move,
/// show or hide the window's controls do nothing.
class WindowlessView : public TransferView
{
public:
    void placeStatusLine() override {}
    void setTransferPicturesVisible(bool) override {}
    void hideStart() override {}
    void setStartEnabled(bool) override {}
    void setModeFrameVisible(bool) override {}
    void showNextAndPrevious() override {}
    void clearModeOptions() override {}
};
