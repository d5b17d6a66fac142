#include "WindowViews.h"

#include "DlgOpen.h"
#include "PortMap.h"
#include "ProgressBar.h"
#include "Texts.h"
#include "WindowLayout.h"
#include "frmIstruzioni.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextEdit>
#include <QToolButton>

namespace {

// The error box is one line wide and elides a long text (ErrorBox); with the
// caret at the start, the focused box shows the start too: what failed.
void setErrorBoxText(QLineEdit *box, const QString &text)
{
    box->setText(text);
    box->setCursorPosition(0);
}

} // namespace

// ---- Port test ------------------------------------------------------------

PortTestWindowView::PortTestWindowView(frmIstruzioni &window) : w(window)
{
    for (int port = 1; port <= kPortTestPorts; ++port)
        option(port)->setToolTip(PortMap::describePort(port));
}

QRadioButton *PortTestWindowView::option(int port) const
{
    switch (port) {
    case 1: return w.optCom1;
    case 2: return w.optCom2;
    case 3: return w.optCom3;
    case 4: return w.optCom4;
    default: return nullptr;
    }
}

void PortTestWindowView::setComButtonEnabled(bool enabled)
{
    w.cmdCom->setEnabled(enabled);
}

void PortTestWindowView::setComButtonVisible(bool visible)
{
    w.cmdCom->setVisible(visible);
}

void PortTestWindowView::setStatusLineVisible(bool visible)
{
    w.Text1(6)->setVisible(visible);
}

void PortTestWindowView::setStatusText(const QString &text)
{
    w.Text1(6)->setPlainText(text);
}

void PortTestWindowView::setNextVisible(bool visible)
{
    w.cmdOk->setVisible(visible);
}

void PortTestWindowView::setPreviousVisible(bool visible)
{
    w.cmdPrec->setVisible(visible);
}

void PortTestWindowView::setPortFrameCaption(const QString &caption)
{
    w.FraCom->setTitle(caption);
}

void PortTestWindowView::setPortFrameVisible(bool visible)
{
    w.FraCom->setVisible(visible);
}

void PortTestWindowView::setPortOptionEnabled(int port, bool enabled)
{
    if (QRadioButton *opt = option(port))
        opt->setEnabled(enabled);
}

void PortTestWindowView::setInstruction(const QString &text)
{
    w.Text1(0)->setPlainText(text);
}

void PortTestWindowView::setPowerAdapterVisible(bool visible)
{
    w.Image4->setVisible(visible);
}

QString PortTestWindowView::faultText(PortFault fault)
{
    switch (fault) {
    case PortFault::Absent: return Texts::text(Texts::Key::FaultAbsent);
    case PortFault::InUse: return Texts::text(Texts::Key::FaultInUse);
    case PortFault::PermissionDenied: return Texts::text(Texts::Key::PermissionDenied);
    case PortFault::Other: break;
    }
    return Texts::text(Texts::Key::FaultOther);
}

void PortTestWindowView::portUnavailable(int port, PortFault fault, const QString &description)
{
    QRadioButton *opt = option(port);
    if (!opt)
        return;
    opt->setToolTip(PortMap::describePort(port) + QLatin1Char('\n')
                    + Texts::text(Texts::Key::NotAvailable).arg(faultText(fault)) + QLatin1Char('\n') + description);
}

// ---- Serial events ----------------------------------------------------------

bool CommEventWindowView::progressBarVisible() const
{
    // The bar's own flag: a window that is not shown (tests, a minimised
    // window) still has a running transfer.
    return !w.ProgressBar1->isHidden();
}

void CommEventWindowView::showErrorBox()
{
    w.txtError->show();
}

void CommEventWindowView::setErrorText(const QString &text)
{
    setErrorBoxText(w.txtError, text);
}

// ---- Transfer ---------------------------------------------------------------

void TransferWindowView::setInstruction(const QString &text)
{
    w.Text1(0)->setPlainText(text);
}

void TransferWindowView::setStatus(const QString &text)
{
    w.Text1(6)->setPlainText(text);
}

void TransferWindowView::placeStatusLine()
{
    w.Text1(6)->move(WindowLayout::px(360), WindowLayout::px(3600));
    w.Text1(6)->show();
}

void TransferWindowView::setTransferPicturesVisible(bool visible)
{
    w.Image5->setVisible(visible);
    w.Image6->setVisible(visible);
}

void TransferWindowView::hideStart()
{
    // A hidden focused button hands the focus on along the tab order, which
    // at the start step ends in the status line: a stray key there would stop
    // the run. The window itself takes it instead.
    if (w.focusWidget() == w.cmdStart)
        w.setFocus(Qt::OtherFocusReason);
    w.cmdStart->hide();
}

void TransferWindowView::setStartEnabled(bool enabled)
{
    w.cmdStart->setEnabled(enabled);
}

void TransferWindowView::setModeFrameVisible(bool visible)
{
    w.fraMode->setVisible(visible);
}

void TransferWindowView::showNextAndPrevious()
{
    w.cmdOk->show();
    w.cmdPrec->show();
}

void TransferWindowView::clearModeOptions()
{
    frmIstruzioni::clearOptions({w.optBakUp, w.optUpgr});
}

float TransferWindowView::progressValue() const
{
    return w.ProgressBar1->Value();
}

void TransferWindowView::setProgressValue(float value)
{
    w.ProgressBar1->setValue(value);
}

void TransferWindowView::setProgressVisible(bool visible)
{
    w.ProgressBar1->setVisible(visible);
}

void TransferWindowView::setProgressCaption(const QString &caption)
{
    w.Label2->setText(caption);
}

void TransferWindowView::setProgressCaptionVisible(bool visible)
{
    w.Label2->setVisible(visible);
}

void TransferWindowView::showError(const QString &text)
{
    w.txtError->show();
    setErrorBoxText(w.txtError, text);
}

FileDialog &TransferWindowView::dlgOpen()
{
    return *w.dlgOpen;
}
