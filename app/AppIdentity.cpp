#include "AppIdentity.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

namespace AppIdentity {

QIcon applicationIcon()
{
    // The two bitmaps, drawn for the sizes a window asks for (16 px in the
    // title bar, 32 px in the task switcher), serve both windows: set once for
    // the application, and neither window sets an icon of its own. icon.svg
    // is the same picture for the desktop's icon theme only; loading it here
    // would pull in the SVG icon engine at start-up for sizes the windows never
    // ask for, and scale a picture down where a bitmap made for the size exists.
    QIcon icon;
    icon.addFile(QStringLiteral(":/img/icon16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/img/icon32.png"), QSize(32, 32));
    return icon;
}

void applyToApplication()
{
    QApplication::setApplicationName(kApplicationName);
    QApplication::setApplicationVersion(kVersion);
    QApplication::setOrganizationName(kCompanyName);
    // Fusion paints command buttons in their palette colour on every platform;
    // the native Windows style would ignore the buttons' back colours.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Set for the whole application, so the start window and the instruction
    // window both carry it.
    QApplication::setWindowIcon(applicationIcon());
}

} // namespace AppIdentity
