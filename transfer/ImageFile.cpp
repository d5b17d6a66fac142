#include "ImageFile.h"

#include "Protocol.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ImageFile {

namespace {

QString quoted(const QString &path)
{
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

void openForReading(QFile &file, const QString &path)
{
    if (path.isEmpty())
        throw RunTimeError(kErrFileNotFound, QStringLiteral("Cannot open the image file: no file name was given"));
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RunTimeError(QFileInfo::exists(path) ? kErrFileAccess : kErrFileNotFound,
                           QStringLiteral("Cannot open the image file %1: %2").arg(quoted(path), file.errorString()));
    }
}

/// Exactly `count` bytes, or a "past end" run-time error naming the file.
QByteArray readExactly(QFile &file, int count, const QString &what)
{
    QByteArray bytes = file.read(count);
    if (bytes.size() != count) {
        throw RunTimeError(kErrPastEnd, QStringLiteral("Input past end of file: %1 ends before %2")
                                            .arg(quoted(file.fileName()), what));
    }
    return bytes;
}

QString g_workingDirectory;

#ifndef Q_OS_WIN
/// Creates `dir` private to the user (0700) when missing; an existing one must
/// be a directory owned by the user.
void ensurePrivateDirectory(const QString &dir)
{
    QDir().mkpath(QFileInfo(dir).absolutePath());
    const QByteArray native = QFile::encodeName(dir);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
        const int err = errno;
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot create the directory %1 for the working file: %2")
                                               .arg(quoted(dir), qt_error_string(err)));
    }
    struct stat st {};
    if (::stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("The working file directory %1 is not a directory of the current user")
                                               .arg(quoted(dir)));
    }
}
#endif

} // namespace

Verdict validateImage(const QString &path)
{
    using namespace Protocol;
    QFile file;
    openForReading(file, path);
    for (;;) {
        const QByteArray record = readExactly(file, RECORD_SIZE, QStringLiteral("its end record"));
        const RecordChecks stored = storedChecks(record);
        if (recordChecks(record, &checkStop) == stored)
            continue;
        if (!isEndRecord(record))
            return Verdict::Damaged;
        // The trailer is sent after the unit has been erased: make sure it is there now.
        readExactly(file, TRAILER_SIZE, QStringLiteral("the 4 bytes of its trailer"));
        return Verdict::Accepted;
    }
}

void ImageReader::open(const QString &path)
{
    close();
    openForReading(m_file, path);
}

QByteArray ImageReader::nextRecord()
{
    return readExactly(m_file, Protocol::RECORD_SIZE, QStringLiteral("its end record"));
}

QByteArray ImageReader::trailer()
{
    return readExactly(m_file, Protocol::TRAILER_SIZE, QStringLiteral("the 4 bytes of its trailer"));
}

void ImageReader::close()
{
    m_file.close();
}

QString BackupWriter::workingDirectory()
{
    if (!g_workingDirectory.isEmpty())
        return g_workingDirectory;
    const QString fromEnv = qEnvironmentVariable("K410_WORKDIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
#ifdef Q_OS_WIN
    return QDir::tempPath();
#else
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/k410-bios");
#endif
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
    close();
    const QString dir = workingDirectory();
    if (dir.isEmpty())
        throw RunTimeError(kErrFileAccess, QStringLiteral("No per-user directory is available for the working file k410.bak"));
    const QString path = workingFilePath();
#ifdef Q_OS_WIN
    QDir().mkpath(dir);
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot create the working file %1: %2")
                                               .arg(quoted(path), m_file.errorString()));
    }
#else
    ensurePrivateDirectory(dir);
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot create the working file %1: %2")
                                               .arg(quoted(path), err == ELOOP ? QStringLiteral("it is a symbolic link")
                                                                               : qt_error_string(err)));
    }
    if (!m_file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot create the working file %1: %2")
                                               .arg(quoted(path), m_file.errorString()));
    }
#endif
}

void BackupWriter::append(const QByteArray &bytes)
{
    if (m_file.write(bytes) != bytes.size()) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot write the working file %1: %2")
                                               .arg(quoted(workingFilePath()), m_file.errorString()));
    }
}

void BackupWriter::finish()
{
    if (!m_file.flush()) {
        const QString reason = m_file.errorString();
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

void BackupWriter::saveTo(const QString &savePath)
{
    const QString workPath = workingFilePath();
    QFile work(workPath);
    if (!work.open(QIODevice::ReadOnly)) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot read the working file %1: %2")
                                               .arg(quoted(workPath), work.errorString()));
    }
    const QByteArray bytes = work.readAll();
    work.close();

    if (savePath.isEmpty())
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot save the backup: no file name was given"));
    QSaveFile out(savePath);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        // An uncommitted QSaveFile removes its temporary file: the save path is untouched.
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot save the backup to %1: %2")
                                               .arg(quoted(savePath), out.errorString()));
    }
    verifySaved(savePath, bytes);
}

void BackupWriter::verifySaved(const QString &path, const QByteArray &expected)
{
    QFile saved(path);
    if (!saved.open(QIODevice::ReadOnly)) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("Cannot read back the saved backup %1: %2")
                                               .arg(quoted(path), saved.errorString()));
    }
    if (saved.readAll() != expected) {
        throw RunTimeError(kErrFileAccess, QStringLiteral("The saved backup %1 differs from the working file %2")
                                               .arg(quoted(path), quoted(workingFilePath())));
    }
}

} // namespace ImageFile
