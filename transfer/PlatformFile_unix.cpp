// Unix side of PlatformFile.
#include <QtGlobal>
#ifdef Q_OS_UNIX

#include "PlatformFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace PlatformFile {

namespace {

/// Closes a descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

Outcome failure(int err)
{
    if (err == ENOENT)
        return {Problem::NotFound, err, {}};
    return {Problem::Os, err, {}};
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISLNK(mode))
        return QStringLiteral("a link");
    return QStringLiteral("not a plain file");
}

bool clearNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

/// What was opened decides, not the name: a regular file (its status left in
/// `st`), else why not.
Outcome openedRegular(int fd, struct stat &st)
{
    if (::fstat(fd, &st) != 0)
        return failure(errno);
    if (!S_ISREG(st.st_mode))
        return {Problem::NotRegular, 0, kindOf(st.st_mode)};
    return {};
}

} // namespace

Outcome readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    const QByteArray native = QFile::encodeName(path);
    // Look before opening: opening some devices has effects of its own.
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return failure(errno);
    if (!S_ISREG(st.st_mode))
        return {Problem::NotRegular, 0, kindOf(st.st_mode)};

    // The name may have changed meanwhile: open without blocking (a pipe
    // would block an ordinary open until someone writes to it) and decide on
    // the opened descriptor.
    Descriptor fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return failure(errno);
    if (const Outcome opened = openedRegular(fd.get(), st); !opened.ok())
        return opened;
    if (st.st_size > maxBytes)
        return {Problem::TooLarge, 0, {}};
    if (!clearNonBlocking(fd.get()))
        return failure(errno);

    // Read to the end, whatever the size said: the file may grow or shrink
    // while it is read. One byte past the limit is enough to refuse it.
    QByteArray data;
    data.reserve(qsizetype(st.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failure(errno);
        }
        if (n == 0)
            break;
        data.append(chunk, n);
        if (data.size() > maxBytes)
            return {Problem::TooLarge, 0, {}};
    }
    bytes = data;
    return {};
}

QString notAPlainFile(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {}; // nothing there, or out of reach: the save itself says why
    return S_ISREG(st.st_mode) ? QString() : kindOf(st.st_mode);
}

Outcome createFreshFile(const QString &dir, const QString &name, QFile &file)
{
    const QByteArray nativeDir = QFile::encodeName(dir);
    const QString parent = QFileInfo(dir).absolutePath();
    if (!QDir().mkpath(parent))
        return failure(QFileInfo::exists(parent) ? ENOTDIR : EACCES);
    if (::mkdir(nativeDir.constData(), 0700) != 0 && errno != EEXIST)
        return failure(errno);

    struct stat st {};
    if (::lstat(nativeDir.constData(), &st) != 0)
        return failure(errno);
    if (S_ISLNK(st.st_mode))
        return {Problem::Link, 0, {}};
    if (!S_ISDIR(st.st_mode))
        return {Problem::NotRegular, 0, kindOf(st.st_mode)};

    // Everything below goes through the directory's descriptor, so the
    // directory checked is the one the file is created in.
    Descriptor dirFd(::open(nativeDir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dirFd.get() < 0)
        return errno == ELOOP ? Outcome{Problem::Link, 0, {}} : failure(errno);
    if (::fstat(dirFd.get(), &st) != 0)
        return failure(errno);
    if (st.st_uid != ::geteuid())
        return {Problem::NotOurs, 0, {}};
    // Others must neither read the firmware nor plant names here.
    if ((st.st_mode & 07777) != 0700 && ::fchmod(dirFd.get(), 0700) != 0)
        return failure(errno);

    const QByteArray nativeName = QFile::encodeName(name);
    if (::unlinkat(dirFd.get(), nativeName.constData(), 0) != 0 && errno != ENOENT) {
        const int err = errno;
        if (err == EISDIR || err == EPERM) {
            if (::fstatat(dirFd.get(), nativeName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
                return {Problem::NotRegular, 0, kindOf(st.st_mode)};
        }
        return failure(err);
    }
    // O_EXCL with O_NOFOLLOW: only a file made here and now is accepted.
    Descriptor fd(::openat(dirFd.get(), nativeName.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return failure(errno);
    if (const Outcome opened = openedRegular(fd.get(), st); !opened.ok())
        return opened;
    if (!clearNonBlocking(fd.get()))
        return failure(errno);
    if (!file.open(fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return failure(EBADF);
    fd.release();
    return {};
}

QString defaultWorkingDirectory()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/k410-bios");
}

namespace {

struct Words
{
    int code;
    const char *words;
};

constexpr Words kWords[] = {
    {ENOSPC, "the disk is full"},
    {EDQUOT, "the disk quota is used up"},
    {EFBIG, "the file is larger than this disk or the system allows"},
    {EACCES, "permission denied"},
    {EPERM, "permission denied"},
    {EROFS, "the disk is read-only"},
    {ENOENT, "the folder does not exist"},
    {ENOTDIR, "a part of the path is not a folder"},
    {EISDIR, "it is a folder"},
    {ENAMETOOLONG, "the name is too long"},
    {EIO, "the disk reported a read or write failure"},
    {EBUSY, "it is in use"},
    {ETXTBSY, "it is in use"},
    {EEXIST, "another file appeared at that name"},
    {ENXIO, "no device answers at that name"},
};

} // namespace

QString plainWords(int osError)
{
    for (const Words &w : kWords)
        if (w.code == osError)
            return QLatin1String(w.words);
    return {};
}

QString plainWords(const QString &osText)
{
    // Qt's file objects keep the system's wording of the error, not its code.
    for (const Words &w : kWords)
        if (osText.contains(qt_error_string(w.code), Qt::CaseInsensitive))
            return QLatin1String(w.words);
    return {};
}

} // namespace PlatformFile

#endif // Q_OS_UNIX
