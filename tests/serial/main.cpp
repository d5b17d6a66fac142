// The serial area's suites, in two executables: test_serial (pure cores, the
// table of error numbers and the port test over fake ports; builds and runs
// on every platform) and test_serial_pty (the real control over
// pseudo-terminals; POSIX only). Test function names on the command line
// select the suites that have them; without names all run.
#include <QCoreApplication>
#include <QMetaMethod>
#include <QTest>
#include <cstdio>
#include <memory>
#include <vector>
#ifdef K410_PTY_SUITES
#include <QSerialPort>
#include <unistd.h>
#endif

void addPureSuites(std::vector<std::unique_ptr<QObject>> &suites);
void addErrorNumberSuites(std::vector<std::unique_ptr<QObject>> &suites);
void addPortTestSuites(std::vector<std::unique_ptr<QObject>> &suites);
void addDeviceSuites(std::vector<std::unique_ptr<QObject>> &suites);

namespace {

bool hasFunction(const QObject &suite, const QByteArray &name)
{
    const QMetaObject *meta = suite.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        if (meta->method(i).name() == name)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
#ifdef K410_PTY_SUITES
    // "--hold-port DEVICE": another program holding a port (with the serial
    // library's lock file) until it is killed, for the lock suites.
    if (argc == 3 && QByteArray(argv[1]) == "--hold-port") {
        QSerialPort port(QString::fromLocal8Bit(argv[2]));
        if (!port.open(QIODevice::ReadWrite))
            return 2;
        std::fputs("held\n", stdout);
        std::fflush(stdout);
        for (;;)
            ::pause();
    }
#endif
    std::vector<std::unique_ptr<QObject>> suites;
#ifdef K410_PTY_SUITES
    addDeviceSuites(suites);
#else
    addPureSuites(suites);
    addErrorNumberSuites(suites);
    addPortTestSuites(suites);
#endif

    QList<QByteArray> names;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-')
            names << QByteArray(argv[i]).split(':').first();
    }
    const auto selected = [&names](const QObject &suite) {
        for (const QByteArray &name : names) {
            if (hasFunction(suite, name))
                return true;
        }
        return false;
    };
    bool anySelected = false;
    for (const auto &suite : suites)
        anySelected = anySelected || selected(*suite);

    int failed = 0;
    for (const auto &suite : suites) {
        if (!anySelected || selected(*suite))
            failed += QTest::qExec(suite.get(), argc, argv);
    }
    return failed;
}
