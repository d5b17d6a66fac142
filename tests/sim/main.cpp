// The simulator's suites: its way to the host in virtual time, then the unit
// driven over its pseudo-terminal.

#include <QCoreApplication>

int runAdapterTests(int argc, char **argv);
int runSimTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int failures = runAdapterTests(argc, argv);
    failures += runSimTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
