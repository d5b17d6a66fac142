#include "EndSignals.h"

#include "StopSignals.h"
#include "frmIstruzioni.h"

#include <QCoreApplication>

namespace EndSignals {

void install(std::function<void(int)> end)
{
    if (!end)
        end = [](int signo) { QCoreApplication::exit(128 + signo); };
    // The first signal ends the program as Exit would; later ones find the end on its way.
    auto ending = std::make_shared<bool>(false);
    StopSignals::install([end = std::move(end), ending](int signo) {
        if (std::exchange(*ending, true))
            return;
        frmIstruzioni::instance().endProgram([end, signo] { end(signo); });
    });
}

void uninstall()
{
    StopSignals::uninstall();
}

} // namespace EndSignals
