#include "ImageFile.h"

#include "PlatformFile.h"
#include "Protocol.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

namespace ImageFile {

namespace {

QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

/// Plain words first, then the system's own wording in parentheses.
QString because(const QString &plain, const QString &system)
{
    if (plain.isEmpty())
        return system;
    if (system.isEmpty() || system.compare(plain, Qt::CaseInsensitive) == 0)
        return plain;
    return plain + QStringLiteral(" (") + system + QLatin1Char(')');
}

QString because(int osError)
{
    return because(PlatformFile::plainWords(osError), qt_error_string(osError));
}

/// Why a Qt file object failed, plain words first.
QString because(const QFileDevice &file)
{
    const QString system = file.errorString();
    return because(PlatformFile::plainWords(system), system);
}

QString g_workingDirectory;

} // namespace

// ---- Images --------------------------------------------------------------

Image loadImage(const QString &path)
{
    using PlatformFile::Problem;
    if (path.isEmpty())
        throw RunTimeError(kErrFileNotFound, QStringLiteral("Cannot open the image file: no file name was given"));
    Image image{path, {}};
    const PlatformFile::Outcome got = PlatformFile::readRegularFile(path, kMaxImageBytes, image.bytes);
    switch (got.problem) {
    case Problem::None:
        return image;
    case Problem::NotFound:
        throw RunTimeError(kErrFileNotFound, QStringLiteral("Cannot open the image file %1: it does not exist")
                                                 .arg(quoted(path)));
    case Problem::NotRegular:
        throw RunTimeError(kErrFileAccess,
                           QStringLiteral("Cannot use %1 as an image file: it is %2, not a file on a disk")
                               .arg(quoted(path), got.what));
    case Problem::Link:
        throw RunTimeError(kErrFileAccess,
                           QStringLiteral("Cannot use %1 as an image file: it is a link, which is not followed; "
                                          "choose the file it leads to")
                               .arg(quoted(path)));
    case Problem::TooLarge:
        throw RunTimeError(kErrFileAccess,
                           QStringLiteral("Cannot use %1 as an image file: it is larger than %2 MiB, and a K410 "
                                          "firmware image is about 80 KB")
                               .arg(quoted(path))
                               .arg(kMaxImageBytes / (1024 * 1024)));
    default:
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot open the image file %1: %2")
                                               .arg(quoted(path), because(got.osError)));
    }
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

QByteArray ImageReader::take(int count, const QString &what)
{
    if (m_position + count > m_image.bytes.size()) {
        throw RunTimeError(kErrPastEnd, QStringLiteral("Input past end of file: %1 ends before %2")
                                            .arg(quoted(m_image.path), what));
    }
    const QByteArray bytes = m_image.bytes.mid(m_position, count);
    m_position += count;
    return bytes;
}

QByteArray ImageReader::nextRecord()
{
    return take(Protocol::RECORD_SIZE, QStringLiteral("its end record"));
}

QByteArray ImageReader::trailer()
{
    return take(Protocol::TRAILER_SIZE, QStringLiteral("the 4 bytes of its trailer"));
}

void ImageReader::close()
{
    m_image = {};
    m_position = 0;
    m_open = false;
}

// ---- Backups -------------------------------------------------------------

QString BackupWriter::workingDirectory()
{
    if (!g_workingDirectory.isEmpty())
        return g_workingDirectory;
    const QString fromEnv = qEnvironmentVariable("K410_WORKDIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return PlatformFile::defaultWorkingDirectory();
}

QString BackupWriter::workingFilePath()
{
    return workingDirectory() + QLatin1Char('/') + QLatin1String(kWorkingFileName);
}

void BackupWriter::setWorkingDirectory(const QString &dir)
{
    g_workingDirectory = dir;
}

void BackupWriter::create()
{
    using PlatformFile::Problem;
    close();
    m_bytes.clear();
    const QString dir = workingDirectory();
    if (dir.isEmpty())
        throw RunTimeError(kErrFileAccess, QStringLiteral("No per-user directory is available for the working file k410.bak"));
    const QString path = workingFilePath();
    const PlatformFile::Outcome got = PlatformFile::createFreshFile(dir, QLatin1String(kWorkingFileName), m_file);
    QString why;
    switch (got.problem) {
    case Problem::None:
        return;
    case Problem::Link:
        why = QStringLiteral("its folder %1 is a link; the working file is only kept in a real folder of this user")
                  .arg(quoted(dir));
        break;
    case Problem::NotOurs:
        why = QStringLiteral("its folder %1 belongs to another user").arg(quoted(dir));
        break;
    case Problem::NotRegular:
        why = QStringLiteral("%1 is in the way").arg(got.what);
        break;
    default:
        why = because(got.osError);
        break;
    }
    throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot create the working file %1: %2").arg(quoted(path), why));
}

void BackupWriter::append(const QByteArray &bytes)
{
    m_bytes += bytes;
    if (m_file.write(bytes) != bytes.size()) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot write the working file %1: %2")
                                               .arg(quoted(workingFilePath()), because(m_file)));
    }
}

void BackupWriter::finish()
{
    if (!m_file.flush() || m_file.error() != QFileDevice::NoError) {
        const QString reason = because(m_file);
        m_file.close();
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot write the working file %1: %2")
                                               .arg(quoted(workingFilePath()), reason));
    }
    m_file.close();
}

void BackupWriter::close()
{
    m_file.close();
}

// ---- Saving --------------------------------------------------------------

SaveTarget::SaveTarget() = default;
SaveTarget::~SaveTarget() = default;

void SaveTarget::open(const QString &path)
{
    cancel();
    if (path.isEmpty())
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot save the backup: no file name was given"));
    const auto refuse = [&path](const QString &why) {
        return RunTimeError(kErrFileAccess, QStringLiteral("Cannot save the backup to %1: %2").arg(quoted(path), why));
    };
    // What is at the path now, links followed: the backup replaces a file, never
    // a folder, a pipe or a device (and never a device's node by way of a link).
    if (const QString what = PlatformFile::notAPlainFile(path); !what.isEmpty())
        throw refuse(QStringLiteral("it is %1, not a file on a disk").arg(what));
    const QFileInfo existing(path);
    // Qt would refuse it with words of its own; a read-only file is kept as it is.
    if (existing.isFile() && !existing.isWritable())
        throw refuse(QStringLiteral("the file is read-only"));
    const QFileInfo folder(existing.absolutePath());
    if (!folder.isDir())
        throw refuse(QStringLiteral("the folder %1 does not exist").arg(quoted(folder.filePath())));

    auto file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly))
        throw refuse(because(*file));
    m_file = std::move(file);
    m_path = path;
}

void SaveTarget::commit(const QByteArray &bytes, const QString &workingCopy)
{
    const QString path = m_path;
    const auto failed = [&](const QString &why) {
        cancel();
        return RunTimeError(kErrFileAccess,
                            QStringLiteral("Cannot save the backup to %1: %2. The backup read from the unit is "
                                           "kept in the working file %3")
                                .arg(quoted(path), why, quoted(workingCopy)));
    };
    if (!m_file)
        throw failed(QStringLiteral("the file was not opened"));
    // QSaveFile::commit() reports success although its own last flush failed
    // (a disk that filled up): the flush and the error state are checked here,
    // and any failure discards the temporary file instead of renaming it.
    if (m_file->write(bytes) != bytes.size() || !m_file->flush() || m_file->error() != QFileDevice::NoError) {
        QString why = PlatformFile::plainWords(m_file->errorString());
        if (why.isEmpty()) {
            // A write cut short carries no error code ("Unknown error"): a full
            // disk is the usual cause, so look at the room left while the
            // temporary file still takes its share.
            const QStorageInfo disk(QFileInfo(path).absolutePath());
            why = disk.isValid() && disk.bytesAvailable() < bytes.size()
                      ? QStringLiteral("the disk is full")
                      : QStringLiteral("the system took only part of the data (%1)").arg(m_file->errorString());
        } else {
            why = because(*m_file);
        }
        throw failed(why);
    }
    if (!m_file->commit())
        throw failed(because(*m_file));
    m_file.reset();
    try {
        verifySaved(path, bytes);
    } catch (const RunTimeError &e) {
        throw RunTimeError(e.number(), e.description() + QStringLiteral(". The backup read from the unit is kept in "
                                                                        "the working file %1")
                                                             .arg(quoted(workingCopy)));
    }
}

void SaveTarget::cancel()
{
    if (m_file)
        m_file->cancelWriting();
    m_file.reset(); // an uncommitted QSaveFile removes its temporary file
    m_path.clear();
}

void verifySaved(const QString &path, const QByteArray &expected)
{
    // Read back without blocking and from a regular file only, like an image:
    // the name may have been taken over since the rename.
    QByteArray saved;
    const PlatformFile::Outcome got = PlatformFile::readRegularFile(path, expected.size(), saved);
    if (got.problem == PlatformFile::Problem::Os || got.problem == PlatformFile::Problem::NotFound) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot read back the saved backup %1: %2")
                                               .arg(quoted(path), because(got.osError)));
    }
    if (!got.ok() || saved != expected) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("The saved backup %1 differs from the backup read from the unit")
                                               .arg(quoted(path)));
    }
}

} // namespace ImageFile
