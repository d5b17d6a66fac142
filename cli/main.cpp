// k410-flash: the backup and upgrade procedure from a command line (Flash.h).
// Results go to standard output, what a person reads to standard error.

#include "Flash.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("k410-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(K410_VERSION));
    QFile out, err;
    out.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered);
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return Flash::run(QCoreApplication::arguments().mid(1), out, err, isatty(fileno(stderr)) != 0);
}
