#include "FreshWindow.h"

#include "DlgOpen.h"
#include "Testfile.h"
#include "Variabili.h"

#include <QCoreApplication>
#include <QEvent>

namespace testwindow {

frmIstruzioni &freshWindow(std::unique_ptr<CommControl> control, void (*loader)(), const ProbeTiming &timing)
{
    unloadWindow();
    frmIstruzioni &w = frmIstruzioni::instance();
    w.setCommControl(std::move(control));
    w.setProbeTiming(timing);
    (loader ? loader : &Testfile::LoadEnglish)();
    Variabili::strFerma.clear();
    Variabili::bytMode = 0;
    Variabili::intComPort = 0;
    w.Load();
    return w;
}

void unloadWindow()
{
    frmIstruzioni &w = frmIstruzioni::instance();
    DlgOpen::setAnswerer({});
    if (w.isLoaded() && w.MSComm1().PortOpen())
        w.MSComm1().setPortOpen(false);
    w.hide();
    w.Unload();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace testwindow
