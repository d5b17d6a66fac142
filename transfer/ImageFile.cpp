#include "ImageFile.h"

#include "PlatformFile.h"
#include "Protocol.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace ImageFile {

namespace {

using Texts::Key;

QString say(Key key)
{
    return Texts::text(key);
}

QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

/// "Reason: what could not be done": the reason leads, with a capital, so a
/// one-line box that cuts the text still shows why. The system's messages
/// stay apart, to be shown last.
Failure reasonFirst(const Failure &reason, const QString &rest)
{
    QString text = reason.words;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return {say(Key::ReasonThenWhat).arg(text, rest), reason.system};
}

/// Two statements one after the other, the system's messages of both kept apart.
Failure joined(const Failure &first, const Failure &then)
{
    return {first.words + QStringLiteral(". ") + then.words, first.system + then.system};
}

/// Plain words first; the system's own wording goes apart, unless it only
/// repeats them. Without plain words the system's wording is all there is to
/// say, after a word that something failed.
Failure because(const QString &plain, const QString &system)
{
    if (plain.isEmpty())
        return {say(Key::SystemError), {system}};
    if (system.isEmpty() || system.compare(plain, Qt::CaseInsensitive) == 0)
        return {plain, {}};
    return {plain, {system}};
}

Failure because(int osError)
{
    if (osError == 0)
        return {say(Key::NoReasonGiven), {}};
    return because(PlatformFile::plainWords(osError), qt_error_string(osError));
}

/// Why a write to a Qt file object failed, plain words first. A write the
/// system cut short without saying why is looked into: a full disk is the
/// usual cause.
Failure becauseWrite(const QFileDevice &file, const QString &path, qint64 wanted)
{
    const QString system = file.errorString();
    if (const QString plain = PlatformFile::plainWords(system); !plain.isEmpty())
        return because(plain, system);
    const QStorageInfo disk(QFileInfo(path).absolutePath());
    if (disk.isValid() && disk.bytesAvailable() < wanted)
        return {say(Key::DiskFull), {}};
    return {say(Key::PartialWrite), {}};
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
    return got.path.isEmpty() ? QString() : QLatin1Char(' ') + say(Key::InFolder).arg(quoted(got.path));
}

QString g_workingDirectory;

} // namespace

QString Failure::text() const
{
    QStringList shown = system;
    shown.removeAll(QString());
    shown.removeDuplicates();
    return shown.isEmpty() ? words : words + QStringLiteral(" (") + shown.join(QStringLiteral("; ")) + QLatin1Char(')');
}

// ---- Images --------------------------------------------------------------

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
    if (const Failure why = holdFolder(); !why.isEmpty())
        throw RunTimeError(kErrFileAccess, why.text());
}

Failure BackupWriter::holdFolder()
{
    using PlatformFile::Problem;
    close();
    const QString dir = workingDirectory();
    if (dir.isEmpty())
        return {say(Key::NoWorkingFolder), {}};
    const PlatformFile::Outcome got = m_folder.open(dir, QLatin1String(kWorkingFileName));
    const QString where = quoted(got.path.isEmpty() ? dir : got.path);
    Failure why;
    switch (got.problem) {
    case Problem::None:
        return {};
    case Problem::Link:
        why = {say(Key::WorkFolderIsLink).arg(where), {}};
        break;
    case Problem::NotOurs:
        why = {say(Key::FolderOfOtherUser).arg(where, got.what), {}};
        break;
    case Problem::NotPrivate:
        why = {say(Key::FolderNotPrivate).arg(where), {}};
        break;
    case Problem::NotRegular:
        why = {got.path.isEmpty() ? say(Key::InTheWay).arg(got.what) : say(Key::IsNotFolder).arg(where, got.what), {}};
        break;
    default:
        why = because(got.osError);
        why.words += inFolder(got);
        break;
    }
    return reasonFirst(why, say(Key::CannotCreateWorkingFile)
                                .arg(quoted(PlatformFile::WorkingFolder::folderFor(dir) + QLatin1Char('/')
                                            + QLatin1String(kWorkingFileName))));
}

void BackupWriter::create()
{
    m_file.close();
    m_bytes.clear();
    m_problem = {};
    if (!m_folder.isOpen()) {
        m_problem = holdFolder();
        if (!m_problem.isEmpty())
            return;
    }
    const PlatformFile::Outcome got = m_folder.createFile(QLatin1String(kWorkingFileName), m_file);
    if (got.problem == PlatformFile::Problem::NotRegular)
        failed({say(Key::InTheWay).arg(got.what), {}});
    else if (!got.ok())
        failed(because(got.osError));
}

void BackupWriter::failed(const Failure &why)
{
    if (m_problem.isEmpty())
        m_problem = reasonFirst(why, say(Key::CannotWriteWorkingFile).arg(quoted(path())));
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
        throw RunTimeError(kErrFileAccess, say(Key::SaveNoName));
    const PlatformFile::Outcome got = m_folder.open(path);
    Failure why;
    switch (got.problem) {
    case Problem::None:
        m_path = path;
        return;
    case Problem::NotFound:
        why = got.path.isEmpty() ? because(got.osError)
                                 : Failure{say(Key::FolderDoesNotExist).arg(quoted(got.path)), {}};
        break;
    case Problem::NotRegular:
        // The folder of the name, when that is what turned out not to be one.
        why = {got.path.isEmpty() ? say(Key::NotFileOnDisk).arg(got.what)
                                  : say(Key::IsNotFolder).arg(quoted(got.path), got.what),
               {}};
        break;
    case Problem::ReadOnly:
        why = {say(Key::FileReadOnly), {}};
        break;
    case Problem::Link:
        why = {say(Key::LinkNotFollowed), {}};
        break;
    case Problem::ForeignLink:
        why = {say(Key::ForeignLink).arg(got.what, quoted(got.path)), {}};
        break;
    default:
        why = because(got.osError);
        why.words += inFolder(got);
        break;
    }
    throw RunTimeError(kErrFileAccess, reasonFirst(why, say(Key::CannotSaveBackup).arg(quoted(path))).text());
}

QString SaveTarget::commit(const QByteArray &bytes, const QString &workingCopy, const Failure &workingProblem)
{
    const QString path = m_path;
    const Failure kept = workingProblem.isEmpty()
                             ? Failure{say(Key::KeptInWorkingFile).arg(quoted(workingCopy)), {}}
                             : Failure{say(Key::KeptNowhere).arg(workingProblem.words), workingProblem.system};
    const auto failed = [&](const Failure &why) {
        cancel();
        return RunTimeError(kErrFileAccess,
                            joined(reasonFirst(why, say(Key::CannotSaveBackup).arg(quoted(path))), kept).text());
    };
    if (!m_folder.isOpen())
        throw failed({say(Key::NotOpened), {}});
    if (const PlatformFile::Outcome got = m_folder.replace(bytes); !got.ok())
        throw failed(because(got.osError));

    // Read back through the held folder: the name may have been taken over since the rename.
    QByteArray saved;
    const PlatformFile::Outcome got = m_folder.readBack(bytes.size(), saved);
    if (!got.ok() || saved != bytes) {
        const Failure why = got.problem == PlatformFile::Problem::Os || got.problem == PlatformFile::Problem::NotFound
                                ? reasonFirst(because(got.osError), say(Key::CannotReadBack).arg(quoted(path)))
                                : Failure{say(Key::SavedDiffers).arg(quoted(path)), {}};
        cancel();
        throw RunTimeError(kErrFileAccess, joined(why, kept).text());
    }
    QString notice;
    if (const QString moved = m_folder.movedFolder(); !moved.isEmpty())
        notice = say(Key::FolderMoved).arg(quoted(QFileInfo(m_folder.target()).absolutePath()), quoted(moved));
    cancel();
    return notice;
}

void SaveTarget::cancel()
{
    m_folder.close();
    m_path.clear();
}

} // namespace ImageFile
