#pragma once
// The instruction window as the serial and transfer cores see it: three small
// adapters that turn each core's view calls into changes of the window's
// controls. They hold no state of their own; the window's handlers create one
// for the length of a call into a core.

#include "CommEvents.h"
#include "PortTest.h"
#include "TransferView.h"
#include "frmIstruzioni.h"

/// The port test's view: cmdCom, the status line, the port frame and its
/// options, Next, Previous, the instruction box and the power-adapter picture.
class PortTestWindowView : public PortTestView
{
public:
    /// Gives every port option a tooltip naming the device behind its port now
    /// (the mapping can change between two tests: an adapter plugged in).
    explicit PortTestWindowView(frmIstruzioni &window);

    void setComButtonEnabled(bool enabled) override;
    void setComButtonVisible(bool visible) override;
    void setStatusLineVisible(bool visible) override;
    void setStatusText(const QString &text) override;
    void setNextVisible(bool visible) override;
    void setPreviousVisible(bool visible) override;
    void setPortFrameCaption(const QString &caption) override;
    void setPortFrameVisible(bool visible) override;
    void setPortOptionEnabled(int port, bool enabled) override;
    void setInstruction(const QString &text) override;
    void setPowerAdapterVisible(bool visible) override;
    /// Adds to the option's tooltip why its port could not be used.
    void portUnavailable(int port, PortFault fault, const QString &description) override;

    /// The words a tooltip uses for `fault`.
    static QString faultText(PortFault fault);

private:
    const frmIstruzioni::Controls &c;
};

/// The serial event handler's view: the progress bar's own visibility flag and the error box.
class CommEventWindowView : public CommEventView
{
public:
    explicit CommEventWindowView(frmIstruzioni &window) : c(window.controls()) {}

    bool progressBarVisible() const override;
    void showErrorBox() override;
    void setErrorText(const QString &text) override;

private:
    const frmIstruzioni::Controls &c;
};

/// The backup and upgrade procedure's view.
class TransferWindowView : public TransferView
{
public:
    explicit TransferWindowView(frmIstruzioni &window) : w(window), c(window.controls()) {}

    void setInstruction(const QString &text) override;
    void setStatus(const QString &text) override;
    void placeStatusLine() override;
    void setTransferPicturesVisible(bool visible) override;
    void hideStart() override;
    void setStartEnabled(bool enabled) override;
    void setModeFrameVisible(bool visible) override;
    void showNextAndPrevious() override;
    void clearModeOptions() override;
    float progressValue() const override;
    void setProgressValue(float value) override;
    void setProgressVisible(bool visible) override;
    void setProgressCaption(const QString &caption) override;
    void setProgressCaptionVisible(bool visible) override;
    void showError(const QString &text) override;
    FileDialog &dlgOpen() override;

private:
    frmIstruzioni &w; // for the focus
    const frmIstruzioni::Controls &c;
};
