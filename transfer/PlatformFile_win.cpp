// Windows side of PlatformFile.
//
// Same rules as the Unix side, in Windows' terms: a name Windows takes for a
// device (NUL, COM1, "C:\x\com1.bio", \\.\ paths) is refused before anything
// is opened, since opening a port grabs it and moves its lines; the opened
// handle decides the rest (GetFileType, the handle's attributes); links and
// junctions are opened as themselves (FILE_FLAG_OPEN_REPARSE_POINT) and never
// followed, at the name chosen for a backup too.
#include <QtGlobal>
#ifdef Q_OS_WIN

#include "PlatformFile.h"
#include "Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <utility>

#include <cstdint>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <qt_windows.h>

namespace PlatformFile {

namespace {

/// Closes a handle on every way out.
class Handle
{
public:
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { reset(INVALID_HANDLE_VALUE); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE get() const { return m_h; }
    HANDLE release() { return std::exchange(m_h, INVALID_HANDLE_VALUE); }
    void reset(HANDLE h)
    {
        if (valid())
            ::CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h;
};

Outcome failure(DWORD err, const QString &path = {})
{
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        return {Problem::NotFound, int(err), {}, path};
    return {Problem::Os, int(err), {}, path};
}

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

/// True for a name that Windows reserves for a device in every folder and
/// with any extension: CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9 (and their
/// superscript-digit forms), CONIN$, CONOUT$.
bool reservedDeviceName(const QString &fileName)
{
    QString stem = fileName.section(QLatin1Char('.'), 0, 0).section(QLatin1Char(':'), 0, 0);
    while (stem.endsWith(QLatin1Char(' ')))
        stem.chop(1);
    stem = stem.toUpper();
    static const QStringList plain = {QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                      QStringLiteral("NUL"), QStringLiteral("CONIN$"), QStringLiteral("CONOUT$")};
    if (plain.contains(stem))
        return true;
    return stem.size() == 4 && (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT")))
           && (stem[3].isDigit() || stem[3] == QChar(0x00B9) || stem[3] == QChar(0x00B2) || stem[3] == QChar(0x00B3));
}

/// True when `path` names a device rather than a file: a path starting with
/// \\.\ (or with \\?\ but naming no drive or share), anything Windows' own
/// path rules turn into such a path, or a reserved device name.
bool namesDevice(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (native.startsWith(QLatin1String("\\\\.\\")))
        return true;
    if (native.startsWith(QLatin1String("\\\\?\\"))) {
        const QString rest = native.mid(4);
        const bool drive = rest.size() >= 3 && rest[0].isLetter() && rest[1] == QLatin1Char(':')
                           && rest[2] == QLatin1Char('\\');
        return !drive && !rest.startsWith(QLatin1String("UNC\\"), Qt::CaseInsensitive);
    }
    const std::wstring w = native.toStdWString();
    if (const DWORD size = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr); size > 0) {
        std::wstring full(size, L'\0');
        full.resize(::GetFullPathNameW(w.c_str(), size, full.data(), nullptr));
        if (full.rfind(L"\\\\.\\", 0) == 0)
            return true;
    }
    return reservedDeviceName(native.section(QLatin1Char('\\'), -1));
}

/// Not a file on a disk: a pipe, a console, a device.
QString kindOfHandle(HANDLE h)
{
    switch (::GetFileType(h)) {
    case FILE_TYPE_DISK:
        return {};
    case FILE_TYPE_PIPE:
        return Texts::text(Texts::Key::KindPipe);
    case FILE_TYPE_CHAR:
        return Texts::text(Texts::Key::KindDevice);
    default:
        return Texts::text(Texts::Key::KindSpecial);
    }
}

/// Whether the open handle is a plain file: not a device or pipe, not a
/// folder, not a link or junction. `info` receives what the handle is;
/// `storedElsewhere` is set for a reparse point that is not a link (a cloud
/// folder's placeholder, a deduplicated file), whose data a file-system
/// filter supplies.
Outcome inspect(HANDLE h, BY_HANDLE_FILE_INFORMATION &info, bool &storedElsewhere)
{
    storedElsewhere = false;
    if (const QString kind = kindOfHandle(h); !kind.isEmpty())
        return {Problem::NotRegular, 0, kind};
    if (!::GetFileInformationByHandle(h, &info))
        return failure(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFolder)};
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag))
            return failure(::GetLastError());
        if (IsReparseTagNameSurrogate(tag.ReparseTag))
            return {Problem::Link, 0, {}};
        storedElsewhere = true;
    }
    return {};
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION &a, const BY_HANDLE_FILE_INFORMATION &b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
           && a.nFileIndexLow == b.nFileIndexLow;
}

HANDLE openForReading(const std::wstring &path, DWORD flags)
{
    // No one may write the file while it is read: the bytes are one version of it.
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | flags, nullptr);
}

} // namespace

Outcome readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    if (namesDevice(path))
        return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindDevice)};
    const std::wstring native = wide(path);
    // A folder cannot be opened as a file; say what it is rather than "access
    // denied". Where the attributes cannot be read (Wine answers so for a Unix
    // device), the opened handle decides.
    const DWORD attributes = ::GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (const Outcome missing = failure(::GetLastError()); missing.problem == Problem::NotFound)
            return missing;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFolder)};
    }

    Handle h(openForReading(native, FILE_FLAG_OPEN_REPARSE_POINT));
    if (!h.valid())
        return failure(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    bool storedElsewhere = false;
    if (const Outcome checked = inspect(h.get(), info, storedElsewhere); !checked.ok())
        return checked;
    if (storedElsewhere) {
        // Read through the filter that keeps the data, and only if the name
        // still leads to the file just checked.
        Handle through(openForReading(native, 0));
        if (!through.valid())
            return failure(::GetLastError());
        BY_HANDLE_FILE_INFORMATION again{};
        if (const Outcome checked = inspect(through.get(), again, storedElsewhere); !checked.ok())
            return checked;
        if (!sameFile(info, again))
            return {Problem::Link, 0, {}};
        h.reset(through.release());
    }
    const qint64 size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > maxBytes)
        return {Problem::TooLarge, 0, {}};

    // Read to the end, whatever the size said; one byte past the limit is
    // enough to refuse it.
    QByteArray data;
    data.reserve(qsizetype(size));
    char chunk[64 * 1024];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h.get(), chunk, DWORD(sizeof chunk), &n, nullptr))
            return failure(::GetLastError());
        if (n == 0)
            break;
        data.append(chunk, qsizetype(n));
        if (data.size() > maxBytes)
            return {Problem::TooLarge, 0, {}};
    }
    bytes = data;
    return {};
}

namespace {

/// Holds a folder open as itself (a link or junction in its place is refused,
/// not followed) and without delete sharing: while it is held it cannot be
/// renamed, removed or replaced, so its path keeps leading to it.
Outcome holdFolder(const QString &dir, Handle &folder)
{
    folder.reset(::CreateFileW(wide(dir).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.valid())
        return failure(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(folder.get(), &info))
        return failure(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return {Problem::Link, 0, {}};
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFile)};
    return {};
}

/// Writes all of `bytes` to `h`: 0, or the error.
DWORD writeAll(HANDLE h, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = DWORD(qMin<qsizetype>(bytes.size() - done, 1 << 20));
        if (!::WriteFile(h, bytes.constData() + done, chunk, &n, nullptr))
            return ::GetLastError();
        if (n == 0)
            return ERROR_WRITE_FAULT;
        done += n;
    }
    return 0;
}

QString temporaryName(const QString &path)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    return path + QLatin1Char('.') + suffix;
}

} // namespace

// ---- The save folder ----------------------------------------------------------
// Windows cannot open a file relative to a folder handle through its usual
// calls; instead the folder is held without delete sharing from the dialog
// on, so it can be neither renamed nor swapped for a link or junction, and
// its path keeps naming it until the backup is saved.

struct SaveFolder::Private
{
    Handle folder{INVALID_HANDLE_VALUE};
    QString folderPath;
    QString path;
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
    return d ? d->path : QString();
}

QString SaveFolder::movedFolder() const
{
    return {}; // held without delete sharing: it cannot move
}

Outcome SaveFolder::open(const QString &path)
{
    close();
    if (namesDevice(path))
        return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindDevice)};
    auto p = std::make_unique<Private>();
    const QFileInfo chosen(QDir::fromNativeSeparators(path));
    p->folderPath = chosen.absolutePath();
    p->path = chosen.absoluteFilePath();
    const DWORD attributes = ::GetFileAttributesW(wide(p->path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A folder first, be it a junction or a drive's root (which Wine marks
        // as a reparse point): a backup cannot replace it either way.
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFolder)};
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return {Problem::Link, 0, {}};
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return {Problem::ReadOnly, 0, {}};
    }
    if (Outcome held = holdFolder(p->folderPath, p->folder); !held.ok()) {
        held.path = p->folderPath;
        return held;
    }
    d = std::move(p);
    return {};
}

Outcome SaveFolder::replace(const QByteArray &bytes)
{
    if (!d)
        return failure(ERROR_INVALID_HANDLE);
    std::wstring temporary;
    Handle h(INVALID_HANDLE_VALUE);
    for (int attempt = 0; !h.valid(); ++attempt) {
        temporary = wide(temporaryName(d->path));
        h.reset(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid() && (::GetLastError() != ERROR_FILE_EXISTS || attempt == 100))
            return failure(::GetLastError());
    }
    const auto failed = [&](DWORD err) {
        h.reset(INVALID_HANDLE_VALUE);
        ::DeleteFileW(temporary.c_str());
        return failure(err);
    };
    if (const DWORD err = writeAll(h.get(), bytes))
        return failed(err);
    if (!::FlushFileBuffers(h.get()))
        return failed(::GetLastError());
    h.reset(INVALID_HANDLE_VALUE);
    if (!::MoveFileExW(temporary.c_str(), wide(d->path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return failed(::GetLastError());
    return {};
}

Outcome SaveFolder::readBack(qint64 maxBytes, QByteArray &bytes)
{
    if (!d)
        return failure(ERROR_INVALID_HANDLE);
    return readRegularFile(d->path, maxBytes, bytes);
}

// ---- The working folder -------------------------------------------------------
// It lives under %LOCALAPPDATA%, whose access list admits only the user (and
// the system): that stands for the Unix side's private-folder rule, and the
// folder is used as it is.

struct WorkingFolder::Private
{
    Handle folder{INVALID_HANDLE_VALUE};
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
    return QStringLiteral("k410-bios");
}

QString WorkingFolder::folderFor(const QString &dir)
{
    return dir;
}

Outcome WorkingFolder::open(const QString &dir, const QString &name)
{
    close();
    if (!QDir().mkpath(dir))
        return failure(ERROR_PATH_NOT_FOUND, dir);
    auto p = std::make_unique<Private>();
    p->path = dir;
    if (Outcome held = holdFolder(dir, p->folder); !held.ok()) {
        held.path = dir;
        return held;
    }
    const DWORD attributes = ::GetFileAttributesW(wide(dir + QLatin1Char('/') + name).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
        && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFolder)};
    d = std::move(p);
    return {};
}

Outcome WorkingFolder::appendFile(const QString &name, const QByteArray &bytes, qint64 limit, const QString &olderName)
{
    if (!d)
        return failure(ERROR_INVALID_HANDLE);
    const std::wstring path = wide(d->path + QLatin1Char('/') + name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)
        && !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        && ((qint64(data.nFileSizeHigh) << 32) | data.nFileSizeLow) + bytes.size() > limit
        && !::MoveFileExW(path.c_str(), wide(d->path + QLatin1Char('/') + olderName).c_str(), MOVEFILE_REPLACE_EXISTING))
        return failure(::GetLastError());
    // FILE_FLAG_OPEN_REPARSE_POINT: a link or junction at the name is opened itself and refused.
    Handle h(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid())
        return failure(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    bool storedElsewhere = false;
    if (const Outcome checked = inspect(h.get(), info, storedElsewhere); !checked.ok())
        return checked;
    if (const DWORD err = writeAll(h.get(), bytes))
        return failure(err);
    return {};
}

Outcome WorkingFolder::createFile(const QString &name, QFile &file)
{
    if (!d)
        return failure(ERROR_INVALID_HANDLE);
    // Whatever is at the name goes first: a link or junction is removed
    // itself (never its target), a read-only file loses the attribute that
    // would keep it, a real folder is refused.
    const std::wstring path = wide(d->path + QLatin1Char('/') + name);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
        const bool folderAtName = attributes & FILE_ATTRIBUTE_DIRECTORY;
        if (folderAtName && !link)
            return {Problem::NotRegular, 0, Texts::text(Texts::Key::KindFolder)};
        if ((attributes & FILE_ATTRIBUTE_READONLY) && !link)
            ::SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        const BOOL removed = folderAtName ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
        if (const DWORD err = removed ? 0 : ::GetLastError(); err != 0 && err != ERROR_FILE_NOT_FOUND)
            return failure(err);
    }
    // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT: only a file made here and now is accepted.
    Handle h(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid())
        return failure(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    bool storedElsewhere = false;
    if (const Outcome checked = inspect(h.get(), info, storedElsewhere); !checked.ok())
        return checked;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h.get()), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        return failure(ERROR_INVALID_HANDLE);
    h.release(); // the descriptor owns the handle now
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        return failure(ERROR_INVALID_HANDLE);
    }
    return {};
}

void setNamedTemporaryFiles(bool)
{
}

QString defaultWorkingDirectory()
{
    QString base = qEnvironmentVariable("LOCALAPPDATA");
    if (base.isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : QDir::fromNativeSeparators(base) + QStringLiteral("/k410-bios");
}

#ifndef ERROR_DISK_QUOTA_EXCEEDED
// winerror.h of the Windows SDK has it; the MinGW-w64 10 headers do not.
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif

namespace {

struct Words
{
    DWORD code;
    Texts::Key words;
};

constexpr Words kWords[] = {
    {ERROR_DISK_FULL, Texts::Key::DiskFull},
    {ERROR_HANDLE_DISK_FULL, Texts::Key::DiskFull},
    {ERROR_DISK_QUOTA_EXCEEDED, Texts::Key::QuotaUsedUp},
    {ERROR_ACCESS_DENIED, Texts::Key::PermissionDenied},
    {ERROR_WRITE_PROTECT, Texts::Key::DiskReadOnly},
    {ERROR_PATH_NOT_FOUND, Texts::Key::FolderMissing},
    {ERROR_FILE_NOT_FOUND, Texts::Key::FileMissing},
    {ERROR_DIRECTORY, Texts::Key::PathPartNotFolder},
    {ERROR_FILENAME_EXCED_RANGE, Texts::Key::NameTooLong},
    {ERROR_SHARING_VIOLATION, Texts::Key::InUseByOther},
    {ERROR_LOCK_VIOLATION, Texts::Key::InUseByOther},
    {ERROR_FILE_EXISTS, Texts::Key::NameTaken},
    {ERROR_CRC, Texts::Key::DiskIoFailure},
    {ERROR_CANT_RESOLVE_FILENAME, Texts::Key::LinkLoop},
};

} // namespace

QString plainWords(int osError)
{
    for (const Words &w : kWords)
        if (int(w.code) == osError)
            return Texts::text(w.words);
    return {};
}

QString plainWords(const QString &osText)
{
    for (const Words &w : kWords)
        if (osText.contains(qt_error_string(int(w.code)), Qt::CaseInsensitive))
            return Texts::text(w.words);
    return {};
}

} // namespace PlatformFile

#endif // Q_OS_WIN
