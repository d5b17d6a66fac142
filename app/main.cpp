// Start-up: the application opens on the start window and ends when it closes,
// or when the system asks it to end.

#include "AppIdentity.h"
#include "EndSignals.h"
#include "frmStart.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    AppIdentity::applyToApplication();
    // SIGTERM, SIGINT and SIGHUP end the program as Exit would.
    EndSignals::install();

    frmStart start;
    start.show();
    return app.exec();
}
