// libFuzzer target over the backup and upgrade procedure: each input chooses a
// correct unit, the link to it and when Exit is pressed (ProtocolHarness), the
// real procedure runs against it in virtual time, and the harness's oracle is
// checked. A broken oracle, an exception other than the run-time error (which
// the procedure catches itself), or anything a sanitizer reports is a crash.

#include "ProtocolHarness.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <unistd.h>

namespace {

QString g_dir;

void removeScratch()
{
    if (!g_dir.isEmpty())
        QDir(g_dir).removeRecursively();
}

[[noreturn]] void fail(const QByteArray &message)
{
    std::fprintf(stderr, "\n*** protocol oracle: %s\n", message.constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace

// The scratch directory (the image, the working file, the saved backup) is
// made under $K410_FUZZ_SCRATCH when set, else on /dev/shm, else in the
// temporary directory.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QString base = qEnvironmentVariable("K410_FUZZ_SCRATCH");
    if (base.isEmpty())
        base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    QByteArray pattern = QFile::encodeName(base) + "/k410-protocol-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        fail("cannot create a scratch directory from " + pattern);
    g_dir = QFile::decodeName(pattern);
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto input = QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size));
    ProtocolHarness::Outcome outcome;
    try {
        outcome = ProtocolHarness::run(ProtocolHarness::Scenario::decode(input), g_dir);
    } catch (const std::exception &e) {
        fail(QByteArray("unexpected exception: ") + e.what());
    } catch (...) {
        fail("unexpected exception of an unknown type");
    }
    if (!outcome.failure.isEmpty())
        fail(outcome.failure.toUtf8() + " (ended " + outcome.ending.toUtf8() + ")");
    return 0;
}
