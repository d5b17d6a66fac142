#include "ImageFile.h"

#include "FileFailure.h"
#include "PlatformFile.h"
#include "Protocol.h"
#include "RunTimeError.h"

namespace ImageFile {

using namespace fileWords;
using Texts::Key;

Image loadImage(const QString &path)
{
    using PlatformFile::Problem;
    if (path.isEmpty())
        throw RunTimeError(kErrFileNotFound, say(Key::ImageNoName));
    Image image{path, {}};
    const PlatformFile::Outcome got = PlatformFile::readRegularFile(path, kMaxImageBytes, image.bytes);
    int number = kErrFileAccess;
    QString what = say(Key::CannotUseAsImage).arg(quoted(path));
    Failure why;
    switch (got.problem) {
    case Problem::None:
        return image;
    case Problem::NotFound:
        number = kErrFileNotFound;
        why = {say(Key::FileMissing), {}};
        what = say(Key::CannotOpenImage).arg(quoted(path));
        break;
    case Problem::NotRegular:
        why = {say(Key::NotFileOnDisk).arg(got.what), {}};
        break;
    case Problem::Link:
        why = {say(Key::LinkNotFollowed), {}};
        break;
    case Problem::TooLarge:
        why = {say(Key::ImageTooLarge).arg(kMaxImageBytes / (1024 * 1024)), {}};
        break;
    default:
        why = because(got.osError);
        what = say(Key::CannotOpenImage).arg(quoted(path));
        break;
    }
    throw RunTimeError(number, reasonFirst(why, what).text());
}

Verdict validateImage(const Image &image)
{
    using namespace Protocol;
    ImageReader reader;
    reader.open(image);
    for (;;) {
        const QByteArray record = reader.nextRecord();
        if (recordChecks(record, &checkStop) == storedChecks(record))
            continue;
        if (!isEndRecord(record))
            return Verdict::Damaged;
        // The trailer is sent after the unit has been erased: make sure it is there now.
        reader.trailer();
        return Verdict::Accepted;
    }
}

void ImageReader::open(const Image &image)
{
    m_image = image;
    m_position = 0;
    m_open = true;
}

QByteArray ImageReader::take(int count, Texts::Key endsBefore)
{
    if (m_position + count > m_image.bytes.size()) {
        throw RunTimeError(kErrPastEnd,
                           reasonFirst({say(endsBefore), {}}, say(Key::PastEndOfFile).arg(quoted(m_image.path))).text());
    }
    const QByteArray bytes = m_image.bytes.mid(m_position, count);
    m_position += count;
    return bytes;
}

QByteArray ImageReader::nextRecord()
{
    return take(Protocol::RECORD_SIZE, Key::EndsBeforeEndRecord);
}

QByteArray ImageReader::trailer()
{
    return take(Protocol::TRAILER_SIZE, Key::EndsBeforeTrailer);
}

void ImageReader::close()
{
    m_image = {};
    m_position = 0;
    m_open = false;
}

} // namespace ImageFile
