#pragma once
// The start window: the technician chooses the working language here, which
// fills the message catalogue and opens the instruction window modally.

#include <QWidget>

class QLabel;
class QToolButton;

class frmStart : public QWidget
{
    Q_OBJECT
public:
    explicit frmStart(QWidget *parent = nullptr);

protected:
    /// Esc clicks cmdEsci (the window's cancel button) wherever the focus is;
    /// Enter clicks the button that has the focus.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void wireEvents();

    void cmdItalia_Click();
    void cmdInghilterra_Click();
    void cmdFrancia_Click();
    void cmdGermania_Click();
    void cmdEsci_Click();

    /// Fills the catalogue with `loader`, then shows the instruction window
    /// modally; returns once that window is closed.
    void openInstructions(void (*loader)());

    QToolButton *cmdItalia = nullptr;
    QToolButton *cmdInghilterra = nullptr;
    QToolButton *cmdFrancia = nullptr;
    QToolButton *cmdGermania = nullptr;
    QToolButton *cmdEsci = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Image1 = nullptr;
};
