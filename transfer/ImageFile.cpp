#include "ImageFile.h"

#include "PlatformFile.h"
#include "Protocol.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace ImageFile {

namespace {

QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

/// "reason: what could not be done": the reason leads, with a capital, so a
/// one-line box that cuts the text still shows why.
QString reasonFirst(const QString &reason, const QString &rest)
{
    QString text = reason;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text + QStringLiteral(": ") + rest;
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
    if (osError == 0)
        return QStringLiteral("the system gave no reason");
    return because(PlatformFile::plainWords(osError), qt_error_string(osError));
}

/// Why a write to a Qt file object failed, plain words first. A write the
/// system cut short without saying why is looked into: a full disk is the
/// usual cause.
QString becauseWrite(const QFileDevice &file, const QString &path, qint64 wanted)
{
    const QString system = file.errorString();
    if (const QString plain = PlatformFile::plainWords(system); !plain.isEmpty())
        return because(plain, system);
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() < wanted)
        return QStringLiteral("the disk is full");
    return QStringLiteral("the system took only part of the data");
}

/// Writes all of `bytes`: a write cut short goes on with the rest, so the
/// system says why it stopped.
bool writeAll(QFileDevice &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        file.unsetError();
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

/// Where a path problem lies, when it is not the file itself: " in the folder X".
QString inFolder(const PlatformFile::Outcome &got)
{
    return got.path.isEmpty() ? QString() : QStringLiteral(" in the folder %1").arg(quoted(got.path));
}

QString g_workingDirectory;

} // namespace

// ---- Images --------------------------------------------------------------

Image loadImage(const QString &path)
{
    using PlatformFile::Problem;
    if (path.isEmpty())
        throw RunTimeError(kErrFileNotFound, QStringLiteral("No file name was given: cannot open the image file"));
    Image image{path, {}};
    const PlatformFile::Outcome got = PlatformFile::readRegularFile(path, kMaxImageBytes, image.bytes);
    const QString useAsImage = QStringLiteral("cannot use %1 as an image file").arg(quoted(path));
    switch (got.problem) {
    case Problem::None:
        return image;
    case Problem::NotFound:
        throw RunTimeError(kErrFileNotFound, reasonFirst(QStringLiteral("the file does not exist"),
                                                         QStringLiteral("cannot open the image file %1").arg(quoted(path))));
    case Problem::NotRegular:
        throw RunTimeError(kErrFileAccess,
                           reasonFirst(QStringLiteral("it is %1, not a file on a disk").arg(got.what), useAsImage));
    case Problem::Link:
        throw RunTimeError(kErrFileAccess,
                           reasonFirst(QStringLiteral("it is a link, which is not followed (choose the file it leads to)"),
                                       useAsImage));
    case Problem::TooLarge:
        throw RunTimeError(kErrFileAccess, reasonFirst(QStringLiteral("it is larger than %1 MiB, and a K410 firmware "
                                                                      "image is about 80 KB")
                                                           .arg(kMaxImageBytes / (1024 * 1024)),
                                                       useAsImage));
    default:
        throw RunTimeError(kErrFileAccess, reasonFirst(because(got.osError),
                                                       QStringLiteral("cannot open the image file %1").arg(quoted(path))));
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
        throw RunTimeError(kErrPastEnd, reasonFirst(QStringLiteral("the file ends before %1").arg(what),
                                                    QStringLiteral("input past end of file %1").arg(quoted(m_image.path))));
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
    return PlatformFile::WorkingFolder::folderFor(workingDirectory()) + QLatin1Char('/')
           + QLatin1String(kWorkingFileName);
}

void BackupWriter::setWorkingDirectory(const QString &dir)
{
    g_workingDirectory = dir;
}

QString BackupWriter::path() const
{
    return m_folder.isOpen() ? m_folder.path() + QLatin1Char('/') + QLatin1String(kWorkingFileName)
                             : workingFilePath();
}

void BackupWriter::check()
{
    using PlatformFile::Problem;
    close();
    const QString dir = workingDirectory();
    if (dir.isEmpty())
        throw RunTimeError(kErrFileAccess,
                           QStringLiteral("No per-user folder is available: cannot create the working file k410.bak"));
    const PlatformFile::Outcome got = m_folder.open(dir, QLatin1String(kWorkingFileName));
    const QString where = quoted(got.path.isEmpty() ? dir : got.path);
    QString why;
    switch (got.problem) {
    case Problem::None:
        return;
    case Problem::Link:
        why = QStringLiteral("the folder %1 is a link, and the working file is only kept in a real folder of this user")
                  .arg(where);
        break;
    case Problem::NotOurs:
        why = QStringLiteral("the folder %1 belongs to another user (%2)").arg(where, got.what);
        break;
    case Problem::NotPrivate:
        why = QStringLiteral("the folder %1 is open to other users, and a folder this program did not make is left "
                             "as it is (make it private or remove it)")
                  .arg(where);
        break;
    case Problem::NotRegular:
        why = got.path.isEmpty() ? QStringLiteral("%1 is in the way").arg(got.what)
                                 : QStringLiteral("%1 is %2, not a folder").arg(where, got.what);
        break;
    default:
        why = because(got.osError) + inFolder(got);
        break;
    }
    throw RunTimeError(kErrFileAccess,
                       reasonFirst(why, QStringLiteral("cannot create the working file %1")
                                            .arg(quoted(PlatformFile::WorkingFolder::folderFor(dir) + QLatin1Char('/')
                                                        + QLatin1String(kWorkingFileName)))));
}

void BackupWriter::create()
{
    m_file.close();
    m_bytes.clear();
    m_problem.clear();
    if (!m_folder.isOpen()) {
        try {
            check();
        } catch (const RunTimeError &e) {
            m_problem = e.description();
            return;
        }
    }
    const PlatformFile::Outcome got = m_folder.createFile(QLatin1String(kWorkingFileName), m_file);
    if (got.problem == PlatformFile::Problem::NotRegular)
        failed(QStringLiteral("%1 is in the way").arg(got.what));
    else if (!got.ok())
        failed(because(got.osError));
}

void BackupWriter::failed(const QString &why)
{
    if (m_problem.isEmpty())
        m_problem = reasonFirst(why, QStringLiteral("cannot write the working file %1").arg(quoted(path())));
    m_file.close();
}

void BackupWriter::append(const QByteArray &bytes)
{
    m_bytes += bytes;
    if (m_file.isOpen() && !writeAll(m_file, bytes))
        failed(becauseWrite(m_file, path(), bytes.size()));
}

void BackupWriter::finish()
{
    if (m_file.isOpen() && (!m_file.flush() || m_file.error() != QFileDevice::NoError))
        failed(becauseWrite(m_file, path(), 1));
    m_file.close();
}

void BackupWriter::close()
{
    m_file.close();
    m_folder.close();
}

// ---- Saving --------------------------------------------------------------

SaveTarget::SaveTarget() = default;
SaveTarget::~SaveTarget() = default;

void SaveTarget::open(const QString &path)
{
    using PlatformFile::Problem;
    cancel();
    if (path.isEmpty())
        throw RunTimeError(kErrFileAccess, QStringLiteral("No file name was given: cannot save the backup"));
    const PlatformFile::Outcome got = m_folder.open(path);
    QString why;
    switch (got.problem) {
    case Problem::None:
        m_path = path;
        return;
    case Problem::NotFound:
        why = got.path.isEmpty() ? because(got.osError)
                                 : QStringLiteral("the folder %1 does not exist").arg(quoted(got.path));
        break;
    case Problem::NotRegular:
        why = QStringLiteral("it is %1, not a file on a disk").arg(got.what);
        break;
    case Problem::ReadOnly:
        why = QStringLiteral("the file is read-only");
        break;
    case Problem::Link:
        why = QStringLiteral("it is a link, which is not followed (choose the file it leads to)");
        break;
    case Problem::ForeignLink:
        why = QStringLiteral("it is a link that another user (%1) made in a folder everyone may write to, leading to "
                             "%2; such a link is not followed (choose another name, or the file it leads to)")
                  .arg(got.what, quoted(got.path));
        break;
    default:
        why = because(got.osError) + inFolder(got);
        break;
    }
    throw RunTimeError(kErrFileAccess, reasonFirst(why, QStringLiteral("cannot save the backup to %1").arg(quoted(path))));
}

QString SaveTarget::commit(const QByteArray &bytes, const QString &workingCopy, const QString &workingProblem)
{
    const QString path = m_path;
    const QString kept = workingProblem.isEmpty()
                             ? QStringLiteral(". The backup read from the unit is kept in the working file %1")
                                   .arg(quoted(workingCopy))
                             : QStringLiteral(". The working copy could not be written either (%1), so the backup read "
                                              "from the unit is kept nowhere: run the backup again")
                                   .arg(workingProblem);
    const auto failed = [&](const QString &why) {
        cancel();
        return RunTimeError(kErrFileAccess,
                            reasonFirst(why, QStringLiteral("cannot save the backup to %1").arg(quoted(path))) + kept);
    };
    if (!m_folder.isOpen())
        throw failed(QStringLiteral("the file was not opened"));
    if (const PlatformFile::Outcome got = m_folder.replace(bytes); !got.ok())
        throw failed(because(got.osError));

    // Read back through the held folder: the name may have been taken over since the rename.
    QByteArray saved;
    const PlatformFile::Outcome got = m_folder.readBack(bytes.size(), saved);
    if (!got.ok() || saved != bytes) {
        const QString why = got.problem == PlatformFile::Problem::Os || got.problem == PlatformFile::Problem::NotFound
                                ? reasonFirst(because(got.osError),
                                              QStringLiteral("cannot read back the saved backup %1").arg(quoted(path)))
                                : QStringLiteral("The saved backup %1 differs from the backup read from the unit")
                                      .arg(quoted(path));
        cancel();
        throw RunTimeError(kErrFileAccess, why + kept);
    }
    QString notice;
    if (const QString moved = m_folder.movedFolder(); !moved.isEmpty()) {
        notice = QStringLiteral("The folder %1 was moved or replaced while the backup was read: the backup was saved "
                                "in the folder that was chosen, now at %2")
                     .arg(quoted(QFileInfo(m_folder.target()).absolutePath()), quoted(moved));
    }
    cancel();
    return notice;
}

void SaveTarget::cancel()
{
    m_folder.close();
    m_path.clear();
}

} // namespace ImageFile
