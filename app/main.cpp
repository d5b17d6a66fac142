// Start-up: --help and --version answer on the console; otherwise the
// application opens on the start window and ends when it closes, or when the
// system asks it to end.

#include "AppIdentity.h"
#include "CommandLine.h"
#include "EndSignals.h"
#include "frmStart.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (const auto answer = CommandLine::answer(args))
        return CommandLine::print(*answer);

    QApplication app(argc, argv);
    AppIdentity::applyToApplication();
    // SIGTERM, SIGINT and SIGHUP end the program as Exit would.
    EndSignals::install();

    frmStart start;
    start.show();
    return app.exec();
}
