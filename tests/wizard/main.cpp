#include "WizardTests.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int failures = 0;
    failures += runWindowTests(argc, argv);
    failures += runNavigationTests(argc, argv);
    failures += runComponentTests(argc, argv);
    return failures;
}
