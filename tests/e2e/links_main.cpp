#include "E2e.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int failures = runLinkTests(argc, argv);
    e2e::unloadWindow();
    return failures;
}
