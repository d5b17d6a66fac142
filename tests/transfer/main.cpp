// The transfer suite: the pure cores (records, image files, progress; POSIX
// builds), then the whole procedure against a scripted port and unit.

#include <QCoreApplication>

int runCoreTests(int argc, char **argv);
int runProcedureTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
#ifdef K410_CORE_SUITE
    failures += runCoreTests(argc, argv);
#endif
    failures += runProcedureTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
