#include "ImageOracle.h"

#include "ImageFile.h"
#include "Protocol.h"
#include "RunTimeError.h"
#include "Variabili.h"

#include <QFileInfo>

#ifdef Q_OS_LINUX
#include <dirent.h>
#endif

namespace ImageOracle {

namespace {

// The layout, restated here on purpose so that a slip in the file layer's own
// constants or check arithmetic cannot hide in the oracle too.
constexpr qsizetype kRecord = 16;
constexpr qsizetype kData = 13;
constexpr qsizetype kTrailer = 4;

bool checksMatch(QByteArrayView record)
{
    unsigned sum = 0;
    unsigned x = 0;
    for (qsizetype i = 0; i < kData; ++i) {
        const auto b = static_cast<unsigned char>(record[i]);
        sum += b;
        x ^= b;
    }
    return static_cast<unsigned char>(record[13]) == (sum >> 8)
        && static_cast<unsigned char>(record[14]) == (sum & 0xFF)
        && static_cast<unsigned char>(record[15]) == x;
}

bool endMarked(QByteArrayView record)
{
    return static_cast<unsigned char>(record[13]) == 0xFF && static_cast<unsigned char>(record[14]) == 0xFF
        && static_cast<unsigned char>(record[15]) == 0xFF;
}

/// Descriptors open in this process (-1 where that cannot be told): the file
/// layer must leave none behind on any way out.
int openDescriptors()
{
#ifdef Q_OS_LINUX
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (::readdir(dir))
        ++count;
    ::closedir(dir);
    return count;
#else
    return -1;
#endif
}

QString hex(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' '));
}

/// Sets the stop request for one scope and clears it on every way out.
struct StopRequest
{
    StopRequest() { Variabili::strFerma = Variabili::kFerma; }
    ~StopRequest() { Variabili::strFerma.clear(); }
    StopRequest(const StopRequest &) = delete;
    StopRequest &operator=(const StopRequest &) = delete;
};

/// A past-end error must carry its number and name the file it read.
QString checkPastEnd(const RunTimeError &error, const QString &path, const char *step)
{
    if (error.number() != kErrPastEnd) {
        return QStringLiteral("%1: run-time error %2 (%3), expected %4 (past end)")
            .arg(QLatin1String(step)).arg(error.number()).arg(error.description()).arg(kErrPastEnd);
    }
    if (!error.description().contains(QFileInfo(path).fileName()))
        return QStringLiteral("%1: the description does not name the file: %2").arg(QLatin1String(step), error.description());
    return {};
}

QString checkValidator(const Expectation &want, const ImageFile::Image &loaded, const QString &path)
{
    ImageFile::Verdict verdict;
    try {
        verdict = ImageFile::validateImage(loaded);
    } catch (const RunTimeError &error) {
        if (want.outcome != Outcome::EndsEarly) {
            return QStringLiteral("validator: run-time error %1 (%2) on an image the model calls %3")
                .arg(error.number()).arg(error.description()).arg(QLatin1String(outcomeName(want.outcome)));
        }
        return checkPastEnd(error, path, "validator");
    }
    const Outcome got = verdict == ImageFile::Verdict::Accepted ? Outcome::Accepted : Outcome::Damaged;
    if (got != want.outcome) {
        return QStringLiteral("validator: %1, the model says %2")
            .arg(QLatin1String(outcomeName(got)), QLatin1String(outcomeName(want.outcome)));
    }
    return {};
}

QString checkValidatorStops(QByteArrayView image, const ImageFile::Image &loaded, const QString &path)
{
    const StopRequest stop;
    try {
        ImageFile::validateImage(loaded);
    } catch (const Protocol::TransferStopped &) {
        if (image.size() < kRecord)
            return QStringLiteral("stopped validator: stopped although the first record is incomplete");
        return {};
    } catch (const RunTimeError &error) {
        if (image.size() >= kRecord)
            return QStringLiteral("stopped validator: run-time error %1 (%2) instead of stopping")
                .arg(error.number()).arg(error.description());
        return checkPastEnd(error, path, "stopped validator");
    }
    return QStringLiteral("stopped validator: returned a verdict although a stop was requested");
}

// The reader as the upgrade drives it: records until the end record, then the
// trailer. Each record must be the file's bytes at its offset.
QString checkReader(QByteArrayView image, const Expectation &want, const ImageFile::Image &loaded, const QString &path)
{
    ImageFile::ImageReader reader;
    qsizetype index = 0;
    try {
        reader.open(loaded);
        if (!reader.isOpen())
            return QStringLiteral("reader: not open after open()");
        for (;; ++index) {
            const QByteArray record = reader.nextRecord();
            if ((index + 1) * kRecord > image.size())
                return QStringLiteral("reader: delivered record %1 past the end of the image").arg(index);
            const QByteArrayView expected = image.sliced(index * kRecord, kRecord);
            if (record != expected) {
                return QStringLiteral("reader: record %1 is %2, the file holds %3")
                    .arg(index).arg(hex(record), hex(expected));
            }
            if (Protocol::isEndRecord(record))
                break;
            if (!Protocol::isValidRecord(record)) {
                if (want.outcome != Outcome::Damaged || index != want.validRecords)
                    return QStringLiteral("reader: record %1 is damaged, the model disagrees").arg(index);
                return {};
            }
        }
        if (want.outcome != Outcome::Accepted && !want.trailerShort)
            return QStringLiteral("reader: reached an end record at %1 the model does not see").arg(index);
        if (index != want.validRecords)
            return QStringLiteral("reader: end record at %1, the model says %2").arg(index).arg(want.validRecords);
        const QByteArray trailer = reader.trailer();
        if ((index + 1) * kRecord + kTrailer > image.size())
            return QStringLiteral("reader: delivered a trailer past the end of the image");
        const QByteArrayView expected = image.sliced((index + 1) * kRecord, kTrailer);
        if (trailer != expected)
            return QStringLiteral("reader: trailer %1, the file holds %2").arg(hex(trailer), hex(expected));
        if (want.outcome != Outcome::Accepted)
            return QStringLiteral("reader: read a trailer the model calls short");
    } catch (const RunTimeError &error) {
        if (want.outcome != Outcome::EndsEarly) {
            return QStringLiteral("reader: run-time error %1 (%2) at record %3 of an image the model calls %4")
                .arg(error.number()).arg(error.description()).arg(index).arg(QLatin1String(outcomeName(want.outcome)));
        }
        if (index != want.validRecords)
            return QStringLiteral("reader: ran past the end at record %1, the model says %2").arg(index).arg(want.validRecords);
        return checkPastEnd(error, path, "reader");
    }

    // The unit asked for a restart: the image is read again from the start.
    try {
        reader.open(loaded);
        const QByteArray first = reader.nextRecord();
        if (first != image.first(kRecord))
            return QStringLiteral("reader: after reopening, the first record is %1").arg(hex(first));
    } catch (const RunTimeError &error) {
        return QStringLiteral("reader: run-time error %1 (%2) after reopening").arg(error.number()).arg(error.description());
    }
    reader.close();
    if (reader.isOpen())
        return QStringLiteral("reader: still open after close()");
    return {};
}

} // namespace

Expectation expect(QByteArrayView image)
{
    Expectation e;
    for (qsizetype at = 0;; at += kRecord) {
        if (image.size() - at < kRecord) {
            e.outcome = Outcome::EndsEarly;
            return e;
        }
        const QByteArrayView record = image.sliced(at, kRecord);
        if (checksMatch(record)) {
            ++e.validRecords;
            continue;
        }
        if (!endMarked(record)) {
            e.outcome = Outcome::Damaged;
        } else if (image.size() - at - kRecord < kTrailer) {
            e.outcome = Outcome::EndsEarly;
            e.trailerShort = true;
        } else {
            e.outcome = Outcome::Accepted;
        }
        return e;
    }
}

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Accepted:
        return "accepted";
    case Outcome::Damaged:
        return "damaged";
    case Outcome::EndsEarly:
        return "ends-early";
    }
    return "?";
}

QString check(QByteArrayView image, const QString &path)
{
    const Expectation want = expect(image);
    const int descriptors = openDescriptors();
    const auto leftOpen = [descriptors](const char *step) {
        const int now = openDescriptors();
        return now == descriptors ? QString()
                                  : QStringLiteral("%1: %2 descriptors open before, %3 after")
                                        .arg(QLatin1String(step)).arg(descriptors).arg(now);
    };
    // The file is read once; everything after works on those bytes.
    ImageFile::Image loaded;
    try {
        loaded = ImageFile::loadImage(path);
    } catch (const RunTimeError &error) {
        return QStringLiteral("loader: run-time error %1 (%2)").arg(error.number()).arg(error.description());
    }
    // Bytes the loader got wrong show up below: the model is built from
    // `image`, the validator and the reader see only what was loaded.
    QString failure = leftOpen("loader");
    if (failure.isEmpty())
        failure = checkValidator(want, loaded, path);
    if (failure.isEmpty())
        failure = leftOpen("validator");
    if (failure.isEmpty())
        failure = checkValidatorStops(image, loaded, path);
    if (failure.isEmpty())
        failure = leftOpen("stopped validator");
    if (failure.isEmpty())
        failure = checkReader(image, want, loaded, path);
    if (failure.isEmpty())
        failure = leftOpen("reader");
    return failure;
}

} // namespace ImageOracle
