#pragma once
// What the fuzz targets share: a private scratch directory for the files an
// input needs (on tmpfs when there is one), removed when the process ends,
// and the way a broken oracle stops the run.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace FuzzScratch {

/// Reports `message` under the target's `oracle` name and aborts, so that
/// libFuzzer keeps the input.
[[noreturn]] inline void fail(const char *oracle, const QByteArray &message)
{
    std::fprintf(stderr, "\n*** %s oracle: %s\n", oracle, message.constData());
    std::fflush(stderr);
    std::abort();
}

/// Makes the scratch directory under $K410_FUZZ_SCRATCH when set (the CI
/// script removes that one even after a crash), else on /dev/shm, else in the
/// temporary directory; it is removed with its files at exit.
inline QString make(const char *oracle, const char *prefix)
{
    static QString dir;
    QString base = qEnvironmentVariable("K410_FUZZ_SCRATCH");
    if (base.isEmpty())
        base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base) + '/' + prefix + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        fail(oracle, "cannot create a scratch directory from " + pattern);
    dir = QFile::decodeName(pattern);
    std::atexit([] { QDir(dir).removeRecursively(); });
    return dir;
}

} // namespace FuzzScratch
