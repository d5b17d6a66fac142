// Windows side of PlatformFile.
//
// Not compiled on the Linux build; written to the same rules as the Unix side:
// the opened handle decides (GetFileType / GetFileInformationByHandle), the
// working file is created fresh without following a reparse point, and it
// lives under %LOCALAPPDATA%, whose default access list already admits only
// the user (and the system), which stands for the Unix side's 0700 check.
#include <QtGlobal>
#ifdef Q_OS_WIN

#include "PlatformFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    ~Handle()
    {
        if (valid())
            ::CloseHandle(m_h);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE get() const { return m_h; }
    HANDLE release() { return std::exchange(m_h, INVALID_HANDLE_VALUE); }

private:
    HANDLE m_h;
};

Outcome failure(DWORD err)
{
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
        return {Problem::NotFound, int(err), {}};
    return {Problem::Os, int(err), {}};
}

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

/// Not a file on a disk: a pipe, a console, a device.
QString kindOfHandle(HANDLE h)
{
    switch (::GetFileType(h)) {
    case FILE_TYPE_DISK:
        return {};
    case FILE_TYPE_PIPE:
        return QStringLiteral("a pipe");
    case FILE_TYPE_CHAR:
        return QStringLiteral("a device");
    default:
        return QStringLiteral("not a plain file");
    }
}

} // namespace

Outcome readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes)
{
    bytes.clear();
    Handle h(::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.valid())
        return failure(::GetLastError());
    if (const QString kind = kindOfHandle(h.get()); !kind.isEmpty())
        return {Problem::NotRegular, 0, kind};
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h.get(), &info))
        return failure(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return {Problem::NotRegular, 0, QStringLiteral("a folder")};
    const qint64 size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > maxBytes)
        return {Problem::TooLarge, 0, {}};

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

Outcome createFreshFile(const QString &dir, const QString &name, QFile &file)
{
    if (!QDir().mkpath(dir))
        return failure(ERROR_PATH_NOT_FOUND);
    const DWORD attributes = ::GetFileAttributesW(wide(dir).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return failure(::GetLastError());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return {Problem::Link, 0, {}};
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {Problem::NotRegular, 0, QStringLiteral("not a folder")};

    const std::wstring path = wide(dir + QLatin1Char('/') + name);
    // DeleteFileW removes a link itself, never its target.
    if (!::DeleteFileW(path.c_str())) {
        const DWORD err = ::GetLastError();
        if (err != ERROR_FILE_NOT_FOUND)
            return failure(err);
    }
    Handle h(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid())
        return failure(::GetLastError());
    if (const QString kind = kindOfHandle(h.get()); !kind.isEmpty())
        return {Problem::NotRegular, 0, kind};
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h.get()), _O_WRONLY | _O_BINARY);
    if (fd < 0)
        return failure(ERROR_INVALID_HANDLE);
    h.release(); // the descriptor owns the handle now
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        return failure(ERROR_INVALID_HANDLE);
    }
    return {};
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
    const char *words;
};

constexpr Words kWords[] = {
    {ERROR_DISK_FULL, "the disk is full"},
    {ERROR_HANDLE_DISK_FULL, "the disk is full"},
    {ERROR_DISK_QUOTA_EXCEEDED, "the disk quota is used up"},
    {ERROR_ACCESS_DENIED, "permission denied"},
    {ERROR_WRITE_PROTECT, "the disk is read-only"},
    {ERROR_PATH_NOT_FOUND, "the folder does not exist"},
    {ERROR_FILE_NOT_FOUND, "the file does not exist"},
    {ERROR_DIRECTORY, "a part of the path is not a folder"},
    {ERROR_FILENAME_EXCED_RANGE, "the name is too long"},
    {ERROR_SHARING_VIOLATION, "it is in use by another program"},
    {ERROR_LOCK_VIOLATION, "it is in use by another program"},
    {ERROR_FILE_EXISTS, "another file appeared at that name"},
    {ERROR_CRC, "the disk reported a read or write failure"},
};

} // namespace

QString plainWords(int osError)
{
    for (const Words &w : kWords)
        if (int(w.code) == osError)
            return QLatin1String(w.words);
    return {};
}

QString plainWords(const QString &osText)
{
    for (const Words &w : kWords)
        if (osText.contains(qt_error_string(int(w.code)), Qt::CaseInsensitive))
            return QLatin1String(w.words);
    return {};
}

} // namespace PlatformFile

#endif // Q_OS_WIN
