// The transfer suite: the pure cores (records, image files, progress), the
// file faults only POSIX calls can make (POSIX builds), then the whole
// procedure against a scripted port and unit.

#include <QCoreApplication>

int runCoreTests(int argc, char **argv);
int runPosixFaultTests(int argc, char **argv);
int runProcedureTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int failures = runCoreTests(argc, argv);
#ifdef K410_POSIX_FAULTS
    failures += runPosixFaultTests(argc, argv);
#endif
    failures += runProcedureTests(argc, argv);
    return failures == 0 ? 0 : 1;
}
