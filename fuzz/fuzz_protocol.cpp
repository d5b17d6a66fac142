// libFuzzer target over the backup and upgrade procedure: each input chooses a
// correct unit, the link to it and when Exit is pressed (ProtocolHarness), the
// real procedure runs against it in virtual time, and the harness's oracle is
// checked. A broken oracle, an exception other than the run-time error (which
// the procedure catches itself), or anything a sanitizer reports is a crash.

#include "FuzzScratch.h"
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

[[noreturn]] void fail(const QByteArray &message)
{
    FuzzScratch::fail("protocol", message);
}

} // namespace

// The image, the working file and the saved backup of each input go into a
// scratch directory of the process's own.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_dir = FuzzScratch::make("protocol", "k410-protocol");
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
