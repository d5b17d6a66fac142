// Unix side of PlatformFile.
#include <QtGlobal>
#ifdef Q_OS_UNIX

#include "PlatformFile.h"
#include "Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace PlatformFile {

namespace {

/// Closes a descriptor on every way out.
class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    void swap(Descriptor &other) { std::swap(m_fd, other.m_fd); }

private:
    int m_fd;
};

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

Outcome failure(int err, const QString &path = {})
{
    if (err == ENOENT)
        return {Problem::NotFound, err, {}, path};
    return {Problem::Os, err, {}, path};
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return Texts::text(Texts::Key::KindFolder);
    if (S_ISFIFO(mode))
        return Texts::text(Texts::Key::KindPipe);
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Texts::text(Texts::Key::KindDevice);
    if (S_ISSOCK(mode))
        return Texts::text(Texts::Key::KindSocket);
    if (S_ISLNK(mode))
        return Texts::text(Texts::Key::KindLink);
    return Texts::text(Texts::Key::KindSpecial);
}

QString userName(uid_t uid)
{
    const passwd *pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : Texts::text(Texts::Key::UserNumber).arg(uid);
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

/// Reads an opened regular file to its end, whatever its size said: the file
/// may grow or shrink while it is read. One byte past the limit is enough to
/// refuse it.
Outcome readOpened(int fd, qint64 maxBytes, QByteArray &bytes)
{
    struct stat st {};
    if (const Outcome opened = openedRegular(fd, st); !opened.ok())
        return opened;
    if (st.st_size > maxBytes)
        return {Problem::TooLarge, 0, {}};
    if (!clearNonBlocking(fd))
        return failure(errno);
    QByteArray data;
    data.reserve(qsizetype(st.st_size));
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
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

/// Writes all of `bytes`: a write cut short goes on with the rest, so that a
/// disk that fills up reports its own error (ENOSPC) rather than a short
/// count without a reason. 0, or the error.
int writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

/// Where an open folder is now, as the system knows it; empty when it cannot tell.
QString pathOf(int fd)
{
    char buf[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), buf, sizeof buf - 1);
    return n > 0 ? QFile::decodeName(QByteArray(buf, n)) : QString();
}

/// A name for a temporary file beside `name`.
QByteArray temporaryName(const QByteArray &name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray suffix(6, 'x');
    for (char &c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name + '.' + suffix;
}

/// The folder `name` under `at`, made private (0700) when it is made here,
/// and opened as itself: a link in its place is refused, not followed.
Outcome openFolder(int at, const QByteArray &name, bool &made, Descriptor &folder)
{
    made = ::mkdirat(at, name.constData(), 0700) == 0;
    if (!made && errno != EEXIST)
        return failure(errno);
    folder.reset(::openat(at, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() >= 0)
        return {};
    const int err = errno;
    struct stat st {};
    if (::fstatat(at, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            return {Problem::Link, 0, {}};
        if (!S_ISDIR(st.st_mode))
            return {Problem::NotRegular, 0, kindOf(st.st_mode)};
    }
    return failure(err);
}

/// Makes the missing folders of `path`, parents first, with the usual access.
int makePath(const QString &path)
{
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    struct stat st {};
    if (::stat(native(clean).constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const QString up = QFileInfo(clean).path();
    if (up != clean)
        if (const int err = makePath(up))
            return err;
    if (::mkdir(native(clean).constData(), 0777) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

/// A folder only its owner, this user, may enter.
bool privateToUs(const struct stat &st)
{
    return st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

/// True when making `path` makes nothing inside a folder of another user:
/// the nearest part of it that exists is ours.
bool growsFromOwnFolder(const QString &path)
{
    QString at = QDir::cleanPath(path);
    for (;;) {
        struct stat st {};
        if (::stat(native(at).constData(), &st) == 0)
            return st.st_uid == ::geteuid();
        if (errno != ENOENT)
            return false;
        const QString up = QFileInfo(at).path();
        if (up == at)
            return false;
        at = up;
    }
}

bool g_namedTemporaryFiles = false;

} // namespace

Outcome readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    const QByteArray name = native(path);
    // Look before opening: opening some devices has effects of its own.
    struct stat st {};
    if (::stat(name.constData(), &st) != 0)
        return failure(errno);
    if (!S_ISREG(st.st_mode))
        return {Problem::NotRegular, 0, kindOf(st.st_mode)};

    // The name may have changed meanwhile: open without blocking (a pipe
    // would block an ordinary open until someone writes to it) and decide on
    // the opened descriptor.
    Descriptor fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return failure(errno);
    return readOpened(fd.get(), maxBytes, bytes);
}

// ---- The save folder ----------------------------------------------------------

struct SaveFolder::Private
{
    Descriptor folder;
    QString folderPath; // the held folder's path when it was opened
    QByteArray name;
    struct stat folderStat {};
    bool existed = false;
    struct stat existing {};
};

SaveFolder::SaveFolder() = default;
SaveFolder::~SaveFolder() = default;

bool SaveFolder::isOpen() const
{
    return d != nullptr;
}

void SaveFolder::close()
{
    d.reset();
}

QString SaveFolder::target() const
{
    return d ? d->folderPath + QLatin1Char('/') + QFile::decodeName(d->name) : QString();
}

Outcome SaveFolder::open(const QString &path)
{
    close();
    auto p = std::make_unique<Private>();
    const QFileInfo chosen(path);
    QString name = chosen.fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) {
        struct stat st {};
        if (::stat(native(path).constData(), &st) != 0)
            return failure(errno);
        return {Problem::NotRegular, 0, kindOf(st.st_mode)};
    }
    p->folderPath = chosen.absolutePath();
    p->folder.reset(::open(native(p->folderPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (p->folder.get() < 0)
        return failure(errno, p->folderPath);

    // A link at the name is followed as the kernel follows one in a shared
    // folder with the sticky bit: only when it is ours, or when not everyone
    // may write in the folder it stands in (else anyone could have planted it
    // there, leading to a file of ours). Each step holds the folder it leads to.
    constexpr int kMaxLinks = 16;
    for (int links = 0;; ++links) {
        p->name = native(name);
        struct stat st {};
        if (::fstatat(p->folder.get(), p->name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return failure(errno);
            break; // a new file
        }
        if (S_ISREG(st.st_mode)) {
            if (::faccessat(p->folder.get(), p->name.constData(), W_OK, AT_EACCESS) != 0)
                return errno == EACCES || errno == EPERM ? Outcome{Problem::ReadOnly, errno, {}} : failure(errno);
            p->existed = true;
            p->existing = st;
            break;
        }
        if (!S_ISLNK(st.st_mode))
            return {Problem::NotRegular, 0, kindOf(st.st_mode)};
        if (links == kMaxLinks)
            return failure(ELOOP);

        char buf[PATH_MAX];
        const ssize_t n = ::readlinkat(p->folder.get(), p->name.constData(), buf, sizeof buf - 1);
        if (n <= 0)
            return failure(n < 0 ? errno : ENOENT);
        const QString leadsTo = QFile::decodeName(QByteArray(buf, n));
        struct stat folder {};
        if (::fstat(p->folder.get(), &folder) != 0)
            return failure(errno);
        if ((folder.st_mode & S_IWOTH) && st.st_uid != ::geteuid()) {
            const QString shown = QDir::isAbsolutePath(leadsTo) ? leadsTo : p->folderPath + QLatin1Char('/') + leadsTo;
            return {Problem::ForeignLink, 0, userName(st.st_uid), QDir::cleanPath(shown)};
        }
        const int slash = leadsTo.lastIndexOf(QLatin1Char('/'));
        name = leadsTo.mid(slash + 1);
        const QString folderPart = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : leadsTo.left(slash);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFolder)};
        Descriptor next(::openat(p->folder.get(), native(folderPart).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (next.get() < 0)
            return failure(errno, folderPart);
        const QString nextPath = pathOf(next.get());
        p->folderPath = nextPath.isEmpty() ? QDir::cleanPath(p->folderPath + QLatin1Char('/') + folderPart) : nextPath;
        p->folder.swap(next);
    }

    // The folder must take a new file: the backup is written beside the name
    // and renamed over it.
    if (::faccessat(p->folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return failure(errno, p->folderPath);
    if (::fstat(p->folder.get(), &p->folderStat) != 0)
        return failure(errno, p->folderPath);
    d = std::move(p);
    return {};
}

QString SaveFolder::movedFolder() const
{
    if (!d)
        return {};
    struct stat now {};
    if (::stat(native(d->folderPath).constData(), &now) == 0 && now.st_dev == d->folderStat.st_dev
        && now.st_ino == d->folderStat.st_ino)
        return {};
    const QString where = pathOf(d->folder.get());
    return where.isEmpty() ? Texts::text(Texts::Key::UnknownPlace) : where;
}

Outcome SaveFolder::replace(const QByteArray &bytes)
{
    if (!d)
        return failure(EBADF);
    const int folder = d->folder.get();
    // Unnamed while it is written where the file system can do that: a
    // program killed meanwhile leaves nothing behind.
    Descriptor fd;
    if (!g_namedTemporaryFiles)
        fd.reset(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    const bool unnamed = fd.get() >= 0;
    QByteArray temporary;
    for (int attempt = 0; !unnamed && fd.get() < 0; ++attempt) {
        temporary = temporaryName(d->name);
        fd.reset(::openat(folder, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.get() < 0 && (errno != EEXIST || attempt == 100))
            return failure(errno);
    }
    const auto failed = [&](int err) {
        if (!temporary.isEmpty())
            ::unlinkat(folder, temporary.constData(), 0);
        return failure(err);
    };
    // A replaced file keeps its owner (root saving over a technician's file)
    // and its access; a new one gets what the user's umask leaves.
    if (d->existed) {
        if (::geteuid() == 0)
            (void)::fchown(fd.get(), d->existing.st_uid, d->existing.st_gid);
        if (::fchmod(fd.get(), d->existing.st_mode & 07777) != 0)
            return failed(errno);
    }
    if (const int err = writeAll(fd.get(), bytes))
        return failed(err);
    if (::fsync(fd.get()) != 0)
        return failed(errno);
    if (unnamed) {
        // A name for the moment of the rename, which alone can replace a file.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd.get());
        for (int attempt = 0;; ++attempt) {
            temporary = temporaryName(d->name);
            if (::linkat(AT_FDCWD, self.constData(), folder, temporary.constData(), AT_SYMLINK_FOLLOW) == 0
                || ::linkat(fd.get(), "", folder, temporary.constData(), AT_EMPTY_PATH) == 0)
                break;
            if (errno != EEXIST || attempt == 100) {
                const int err = errno;
                temporary.clear();
                return failed(err);
            }
        }
    }
    if (::renameat(folder, temporary.constData(), folder, d->name.constData()) != 0)
        return failed(errno);
    ::fsync(folder); // the rename itself, on its way to the disk
    d->existed = true;
    ::fstatat(folder, d->name.constData(), &d->existing, AT_SYMLINK_NOFOLLOW);
    return {};
}

Outcome SaveFolder::readBack(qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    if (!d)
        return failure(EBADF);
    Descriptor fd(::openat(d->folder.get(), d->name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0)
        return errno == ELOOP ? Outcome{Problem::NotRegular, 0, Texts::text(Texts::Key::KindLink)} : failure(errno);
    return readOpened(fd.get(), maxBytes, bytes);
}

// ---- The working folder -------------------------------------------------------

struct WorkingFolder::Private
{
    Descriptor folder;
    QString path;
};

WorkingFolder::WorkingFolder() = default;
WorkingFolder::~WorkingFolder() = default;

bool WorkingFolder::isOpen() const
{
    return d != nullptr;
}

QString WorkingFolder::path() const
{
    return d ? d->path : QString();
}

void WorkingFolder::close()
{
    d.reset();
}

QString WorkingFolder::privateFolderName()
{
    return QStringLiteral("k410-bios-%1").arg(::geteuid());
}

QString WorkingFolder::folderFor(const QString &dir)
{
    struct stat st {};
    if (::lstat(native(dir).constData(), &st) != 0 || !S_ISDIR(st.st_mode) || privateToUs(st))
        return dir;
    return dir + QLatin1Char('/') + privateFolderName();
}

Outcome WorkingFolder::open(const QString &dir, const QString &name)
{
    close();
    auto p = std::make_unique<Private>();
    p->path = dir;
    if (const int err = makePath(QFileInfo(dir).absolutePath()))
        return failure(err, QFileInfo(dir).absolutePath());

    bool made = false;
    struct stat st {};
    if (Outcome got = openFolder(AT_FDCWD, native(dir), made, p->folder); !got.ok()) {
        got.path = dir;
        return got;
    }
    if (::fstat(p->folder.get(), &st) != 0)
        return failure(errno, dir);
    if (!privateToUs(st) && !(made && st.st_uid == ::geteuid())) {
        // Others may enter it (a shared folder, a home named by K410_WORKDIR):
        // it stays as it is, and a private folder of this user's is made in it.
        Descriptor inner;
        const QString innerPath = dir + QLatin1Char('/') + privateFolderName();
        Outcome got = openFolder(p->folder.get(), native(privateFolderName()), made, inner);
        if (!got.ok()) {
            if (got.problem == Problem::Os && (got.osError == EACCES || got.osError == EPERM) && st.st_uid != ::geteuid())
                return {Problem::NotOurs, got.osError, userName(st.st_uid), dir};
            got.path = innerPath;
            return got;
        }
        if (::fstat(inner.get(), &st) != 0)
            return failure(errno, innerPath);
        p->folder.swap(inner);
        p->path = innerPath;
    }
    if (st.st_uid != ::geteuid())
        return {Problem::NotOurs, 0, userName(st.st_uid), p->path};
    // Only a folder made here and now is narrowed to its owner (the umask may
    // have left it narrower still); one that was there already is never changed.
    if (made && (st.st_mode & 07777) != 0700 && ::fchmod(p->folder.get(), 0700) != 0)
        return failure(errno, p->path);
    if (!made && (st.st_mode & 077) != 0)
        return {Problem::NotPrivate, 0, {}, p->path};

    // The working file can be made there: no folder at its name, and the
    // folder may be written.
    const QByteArray file = native(name);
    if (::fstatat(p->folder.get(), file.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
        return {Problem::NotRegular, 0, kindOf(st.st_mode)};
    if (::faccessat(p->folder.get(), ".", W_OK | X_OK, AT_EACCESS) != 0)
        return failure(errno, p->path);
    d = std::move(p);
    return {};
}

Outcome WorkingFolder::createFile(const QString &name, QFile &file)
{
    if (!d)
        return failure(EBADF);
    const int folder = d->folder.get();
    const QByteArray nativeName = native(name);
    struct stat st {};
    if (::unlinkat(folder, nativeName.constData(), 0) != 0 && errno != ENOENT) {
        const int err = errno;
        if (::fstatat(folder, nativeName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
            return {Problem::NotRegular, 0, kindOf(st.st_mode)};
        return failure(err);
    }
    // O_EXCL with O_NOFOLLOW: only a file made here and now is accepted.
    Descriptor fd(::openat(folder, nativeName.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return failure(errno);
    if (const Outcome opened = openedRegular(fd.get(), st); !opened.ok())
        return opened;
    if (!clearNonBlocking(fd.get()))
        return failure(errno);
    // Unbuffered: each record reaches the system when it is written, and a
    // failure names its cause at once.
    if (!file.open(fd.get(), QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return failure(EBADF);
    fd.release();
    return {};
}

Outcome WorkingFolder::appendFile(const QString &name, const QByteArray &bytes, qint64 limit, const QString &olderName)
{
    if (!d)
        return failure(EBADF);
    const int folder = d->folder.get();
    const QByteArray nativeName = native(name);
    struct stat st {};
    if (::fstatat(folder, nativeName.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
        && st.st_size + bytes.size() > limit
        && ::renameat(folder, nativeName.constData(), folder, native(olderName).constData()) != 0)
        return failure(errno);
    Descriptor fd(::openat(folder, nativeName.constData(),
                           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    if (fd.get() < 0)
        return failure(errno);
    if (const Outcome opened = openedRegular(fd.get(), st); !opened.ok())
        return opened;
    if (const int err = writeAll(fd.get(), bytes))
        return failure(err);
    return {};
}

QString defaultWorkingDirectory()
{
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString inCache = cache.isEmpty() ? QString() : cache + QStringLiteral("/k410-bios");
    if (!inCache.isEmpty() && growsFromOwnFolder(inCache))
        return inCache;
    // HOME (or the cache folder) is someone else's, as when root runs with
    // the technician's HOME: this account's own home instead, so that nothing
    // of ours is made in theirs.
    if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && *pw->pw_dir)
        return QDir::cleanPath(QFile::decodeName(pw->pw_dir)) + QStringLiteral("/.cache/k410-bios");
    return inCache;
}

void setNamedTemporaryFiles(bool named)
{
    g_namedTemporaryFiles = named;
}

namespace {

struct Words
{
    int code;
    Texts::Key words;
};

constexpr Words kWords[] = {
    {ENOSPC, Texts::Key::DiskFull},
    {EDQUOT, Texts::Key::QuotaUsedUp},
    {EFBIG, Texts::Key::FileTooLargeForDisk},
    {EACCES, Texts::Key::PermissionDenied},
    {EPERM, Texts::Key::PermissionDenied},
    {EROFS, Texts::Key::DiskReadOnly},
    {ENOENT, Texts::Key::FolderMissing},
    {ENOTDIR, Texts::Key::PathPartNotFolder},
    {EISDIR, Texts::Key::ItIsFolder},
    {ENAMETOOLONG, Texts::Key::NameTooLong},
    {ELOOP, Texts::Key::LinkLoop},
    {EIO, Texts::Key::DiskIoFailure},
    {EBUSY, Texts::Key::InUse},
    {ETXTBSY, Texts::Key::InUse},
    {EEXIST, Texts::Key::NameTaken},
    {ENXIO, Texts::Key::NoDeviceAnswers},
    {EMFILE, Texts::Key::TooManyFiles},
    {ENFILE, Texts::Key::TooManyFiles},
    {ESTALE, Texts::Key::ShareLostFile},
};

} // namespace

QString plainWords(int osError)
{
    for (const Words &w : kWords)
        if (w.code == osError)
            return Texts::text(w.words);
    return {};
}

QString plainWords(const QString &osText)
{
    // Qt's file objects keep the system's wording of the error, not its code.
    for (const Words &w : kWords)
        if (osText.contains(qt_error_string(w.code), Qt::CaseInsensitive))
            return Texts::text(w.words);
    return {};
}

} // namespace PlatformFile

#endif // Q_OS_UNIX
