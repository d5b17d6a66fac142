// libFuzzer target over the image validator and the image reader. Each input
// is written to a file in a private directory (on tmpfs when there is one) and
// handed to ImageOracle::check(), which compares the validator's verdict and
// the reader's records and trailer with an independent model of the layout.
// A disagreement, an exception other than the run-time error, or anything a
// sanitizer reports is a crash.

#include "FuzzScratch.h"
#include "ImageOracle.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <unistd.h>

namespace {

QString g_path;

[[noreturn]] void fail(const QByteArray &message)
{
    FuzzScratch::fail("image", message);
}

void writeInput(const uint8_t *data, size_t size)
{
    QFile file(g_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write the scratch file " + QFile::encodeName(g_path) + ": " + file.errorString().toUtf8());
    if (size > 0 && file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        fail("cannot write the scratch file: " + file.errorString().toUtf8());
    file.close();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_path = FuzzScratch::make("image", "k410-fuzz") + QStringLiteral("/image.bio");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    writeInput(data, size);
    const QByteArray image = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QString failure;
    try {
        failure = ImageOracle::check(image, g_path);
    } catch (const std::exception &e) {
        fail(QByteArray("unexpected exception: ") + e.what());
    } catch (...) {
        fail("unexpected exception of an unknown type");
    }
    if (!failure.isEmpty())
        fail(failure.toUtf8());
    return 0;
}
