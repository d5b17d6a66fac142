#include "E2e.h"

#include <QApplication>
#include <cstring>

// Both suites run by default; "porttest" or "transfer" as the first argument
// runs one of them (the remaining arguments go to QtTest).
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const char *only = argc > 1 && argv[1][0] != '-' && !std::strchr(argv[1], ':') ? argv[1] : nullptr;
    if (only) {
        argv[1] = argv[0];
        ++argv;
        --argc;
    }
    int failures = 0;
    if (!only || std::strcmp(only, "porttest") == 0)
        failures += runPortTestTests(argc, argv);
    if (!only || std::strcmp(only, "transfer") == 0)
        failures += runTransferTests(argc, argv);
    e2e::unloadWindow();
    return failures;
}
