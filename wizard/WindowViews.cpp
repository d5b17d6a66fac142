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

PortTestWindowView::PortTestWindowView(frmIstruzioni &window) : c(window.controls())
{
    for (int port = 1; port <= kPortTestPorts; ++port)
        c.optCom(port)->setToolTip(PortMap::describePort(port));
}

void PortTestWindowView::setComButtonEnabled(bool enabled)
{
    c.cmdCom->setEnabled(enabled);
}

void PortTestWindowView::setComButtonVisible(bool visible)
{
    c.cmdCom->setVisible(visible);
}

void PortTestWindowView::setStatusLineVisible(bool visible)
{
    c.Text1(6)->setVisible(visible);
}

void PortTestWindowView::setStatusText(const QString &text)
{
    c.Text1(6)->setPlainText(text);
}

void PortTestWindowView::setNextVisible(bool visible)
{
    c.cmdOk->setVisible(visible);
}

void PortTestWindowView::setPreviousVisible(bool visible)
{
    c.cmdPrec->setVisible(visible);
}

void PortTestWindowView::setPortFrameCaption(const QString &caption)
{
    c.FraCom->setTitle(caption);
}

void PortTestWindowView::setPortFrameVisible(bool visible)
{
    c.FraCom->setVisible(visible);
}

void PortTestWindowView::setPortOptionEnabled(int port, bool enabled)
{
    if (QRadioButton *opt = c.optCom(port))
        opt->setEnabled(enabled);
}

void PortTestWindowView::setInstruction(const QString &text)
{
    c.Text1(0)->setPlainText(text);
}

void PortTestWindowView::setPowerAdapterVisible(bool visible)
{
    c.Image4->setVisible(visible);
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
    QRadioButton *opt = c.optCom(port);
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
    return !c.ProgressBar1->isHidden();
}

void CommEventWindowView::showErrorBox()
{
    c.txtError->show();
}

void CommEventWindowView::setErrorText(const QString &text)
{
    setErrorBoxText(c.txtError, text);
}

// ---- Transfer ---------------------------------------------------------------

void TransferWindowView::setInstruction(const QString &text)
{
    c.Text1(0)->setPlainText(text);
}

void TransferWindowView::setStatus(const QString &text)
{
    c.Text1(6)->setPlainText(text);
}

void TransferWindowView::placeStatusLine()
{
    c.Text1(6)->move(WindowLayout::px(360), WindowLayout::px(3600));
    c.Text1(6)->show();
}

void TransferWindowView::setTransferPicturesVisible(bool visible)
{
    c.Image5->setVisible(visible);
    c.Image6->setVisible(visible);
}

void TransferWindowView::hideStart()
{
    // A hidden focused button hands the focus on along the tab order, which
    // at the start step ends in the status line: a stray key there would stop
    // the run. The window itself takes it instead.
    if (w.focusWidget() == c.cmdStart)
        w.setFocus(Qt::OtherFocusReason);
    c.cmdStart->hide();
}

void TransferWindowView::setStartEnabled(bool enabled)
{
    c.cmdStart->setEnabled(enabled);
}

void TransferWindowView::setModeFrameVisible(bool visible)
{
    c.fraMode->setVisible(visible);
}

void TransferWindowView::showNextAndPrevious()
{
    c.cmdOk->show();
    c.cmdPrec->show();
}

void TransferWindowView::clearModeOptions()
{
    frmIstruzioni::clearOptions({c.optBakUp, c.optUpgr});
}

float TransferWindowView::progressValue() const
{
    return c.ProgressBar1->Value();
}

void TransferWindowView::setProgressValue(float value)
{
    c.ProgressBar1->setValue(value);
}

void TransferWindowView::setProgressVisible(bool visible)
{
    c.ProgressBar1->setVisible(visible);
}

void TransferWindowView::setProgressCaption(const QString &caption)
{
    c.Label2->setText(caption);
}

void TransferWindowView::setProgressCaptionVisible(bool visible)
{
    c.Label2->setVisible(visible);
}

void TransferWindowView::showError(const QString &text)
{
    c.txtError->show();
    setErrorBoxText(c.txtError, text);
}

FileDialog &TransferWindowView::dlgOpen()
{
    return *c.dlgOpen;
}
