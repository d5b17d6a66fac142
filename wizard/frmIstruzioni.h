#pragma once
// The instruction window: the whole maintenance procedure runs on it.
// (Skeleton: controls, handlers and the unload/reload cycle are being built.)

#include <QDialog>

class frmIstruzioni : public QDialog
{
    Q_OBJECT
public:
    /// The one program-wide instance.
    static frmIstruzioni &instance();

    /// Modal show: loads the window afresh if it is not loaded (running the
    /// load handler with the current catalogue) and returns once it is unloaded.
    void ShowModal();

private:
    explicit frmIstruzioni(QWidget *parent = nullptr);
};
