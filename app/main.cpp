// Start-up: the application opens on the start window and ends when it closes.

#include "AppIdentity.h"
#include "frmStart.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppIdentity::applyToApplication();

    frmStart start;
    start.show();
    return app.exec();
}
