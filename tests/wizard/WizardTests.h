#pragma once
// The wizard suite: the instruction window (layout, load, keys, closing), its
// navigation, and the file-dialog and progress-bar layers. Shared helpers below.

#include "FakeCommPort.h"
#include "Testfile.h"
#include "Variabili.h"
#include "frmIstruzioni.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

int runWindowTests(int argc, char **argv);
int runNavigationTests(int argc, char **argv);
int runComponentTests(int argc, char **argv);

using Loader = void (*)();
Q_DECLARE_METATYPE(Loader)

namespace wizardtest {

/// Every visible control of the window layout, by name.
inline const QStringList &controlNames()
{
    static const QStringList names{
        "Text1_0", "Text1_6", "txtError", "FraCom", "optCom1", "optCom2", "optCom3", "optCom4",
        "fraMode", "optBakUp", "optUpgr", "fraTasti", "cmdOk", "cmdPrec", "cmdCom", "cmdStart",
        "cmdAnnulla", "ProgressBar1", "Label2", "Image5", "Image6", "Image4", "Image7", "Image8",
        "Image3", "Image2", "Image1", "Label3", "Label4", "Label5"};
    return names;
}

/// Names of the controls that show when the window shows (hidden frames hide their options).
inline QStringList shownControls(frmIstruzioni &window)
{
    QStringList shown;
    for (const QString &name : controlNames()) {
        QWidget *control = window.findChild<QWidget *>(name);
        if (control && control->isVisibleTo(&window))
            shown << name;
    }
    shown.sort();
    return shown;
}

inline QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

/// A fresh window state: nothing pending, no port or mode chosen, a closed fake port.
inline FakeCommPort *freshPort(frmIstruzioni &window)
{
    Variabili::strFerma.clear();
    Variabili::bytMode = 0;
    Variabili::intComPort = 0;
    auto port = std::make_unique<FakeCommPort>();
    FakeCommPort *raw = port.get();
    window.setCommControl(std::move(port));
    return raw;
}

/// Unload the window whatever its state, and let the destroyed controls go.
inline void forceUnload(frmIstruzioni &window)
{
    if (auto *port = dynamic_cast<FakeCommPort *>(&window.MSComm1())) {
        port->reportPortOpen(std::nullopt);
        port->open = false;
    }
    window.Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace wizardtest

namespace wizardtest {

/// What the port test leaves on the window when the unit answers on `port`.
inline void portTestFinds(frmIstruzioni &w, int port)
{
    const frmIstruzioni::Controls &c = w.controls();
    using namespace Variabili;
    c.Text1(6)->show();
    intComPort = qint16(port);
    c.Text1(6)->setPlainText(strConnected + QString::number(port));
    c.FraCom->hide();
    c.cmdCom->hide();
    c.cmdOk->show();
    c.cmdPrec->show();
    c.Image4->show();
    c.Text1(0)->setPlainText(strIstrPowerOff);
}

/// What the port test leaves on the window when no port answers; `opened` are
/// the ports it could open.
inline void portTestFindsNone(frmIstruzioni &w, const QList<int> &opened)
{
    const frmIstruzioni::Controls &c = w.controls();
    using namespace Variabili;
    c.Text1(6)->show();
    c.Text1(6)->setPlainText(strNoPort);
    c.cmdCom->hide();
    c.cmdPrec->show();
    c.FraCom->setTitle(strFraCom);
    c.FraCom->show();
    for (int port : opened)
        c.optCom(port)->setEnabled(true);
}

enum class Step { Cable, PortTest, ManualPort, PowerOff, Mode, Start };

/// From a freshly loaded window, walk to `step` through the handlers (the port
/// test's part simulated as above; the manual-port step with port 2 chosen).
inline void walkTo(frmIstruzioni &w, Step step)
{
    if (step == Step::Cable)
        return;
    w.cmdOk_Click();
    if (step == Step::PortTest)
        return;
    if (step == Step::ManualPort) {
        portTestFindsNone(w, {2, 3});
        w.controls().optCom2->click();
        return;
    }
    portTestFinds(w, 2);
    if (step == Step::PowerOff)
        return;
    w.cmdOk_Click();
    if (step == Step::Mode)
        return;
    w.cmdOk_Click();
}

} // namespace wizardtest
