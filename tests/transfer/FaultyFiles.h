#pragma once
// Faulty inputs made for real, for the file tables of the transfer suite: one
// implementation file per platform (FaultyFiles_unix.cpp, FaultyFiles_win.cpp).

#include "BackupWriter.h"
#include "ImageFile.h"
#include "RunTimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace faulty {

#ifdef Q_OS_WIN
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

/// Makes the input `kind` at `path`; an empty answer when it is there, else
/// why it cannot be made here (the test skips with those words).
/// Every platform: "folder"; "huge" (one byte over the image cap, sparse
/// where the disk allows); "readonly" (the file at `path`, made with
/// "precious" in it when missing, marked read-only); "link:TARGET" (a
/// symbolic link to TARGET).
/// "path:P" plants nothing: P is a name as it stands (a device's name, a file
/// of Wine's drive Z:), checked to be there where that depends on the machine.
/// Unix only: "fifo".
QString plant(const QString &kind, const QString &path);

/// A small file system (64 KiB) to fill up, or a read-only one, for as long
/// as this lives: on Unix a tmpfs mounted over the empty folder `scratch`
/// (root only); on Windows a fresh folder on the drive K410_SMALL_DISK names,
/// which scripts/wine-tests.sh mounts for Wine when run as root (none
/// read-only).
class SmallDisk
{
public:
    explicit SmallDisk(const QString &scratch, bool readOnly = false);
    ~SmallDisk();
    /// A folder on it; empty when there is none here.
    QString path() const { return m_path; }
    /// Why there is none.
    QString whyNone() const { return m_why; }

private:
    QString m_path;
    QString m_why;
};

/// A limit on the size of the files this process writes, for as long as this
/// lives: Unix RLIMIT_FSIZE, with its signal ignored so that the write fails
/// instead. Windows has none (whyNone() says so).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    QString whyNone() const { return m_why; }

private:
    quint64 m_old = 0;
    QString m_why;
};

/// Fills the file system of the folder `dir` with a file "filler" until only
/// `roomLeft` bytes are free.
inline bool fill(const QString &dir, qint64 roomLeft = 0)
{
    QFile filler(dir + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(1024, 'f');
    while (filler.write(block) == block.size()) {
    }
    return roomLeft == 0 || filler.resize(filler.size() - roomLeft);
}

/// The inputs both platforms make the same way ("folder", "huge", "readonly").
inline QString plantCommon(const QString &kind, const QString &path)
{
    if (kind == QLatin1String("folder"))
        return QDir().mkpath(path) ? QString() : QStringLiteral("mkpath failed");
    QFile file(path);
    if (kind == QLatin1String("huge")) {
        const bool made = file.open(QIODevice::WriteOnly) && file.write("x") == 1
                          && file.resize(ImageFile::kMaxImageBytes + 1);
        return made ? QString() : file.errorString();
    }
    if (kind == QLatin1String("readonly")) {
        const bool made = file.exists() || (file.open(QIODevice::WriteOnly) && file.write("precious") == 8);
        file.close();
        return made && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadUser)
                   ? QString()
                   : file.errorString();
    }
    return QStringLiteral("no such faulty input: ") + kind;
}

/// Writes `bytes` as a backup through the working file: why the working copy
/// could not be written, or empty when the working file took them all.
inline QString backupError(const QByteArray &bytes)
{
    ImageFile::BackupWriter w;
    w.create();
    w.append(bytes);
    w.finish();
    return w.problem().text();
}

/// A short description of what is at `path` (kind, size, writable), to show
/// that refusing it left it as it was.
inline QString describe(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return QStringLiteral("nothing");
    QString kind = QStringLiteral("special");
    if (info.isSymLink())
        kind = QStringLiteral("link");
    else if (info.isDir())
        kind = QStringLiteral("folder");
    else if (info.isFile())
        kind = QStringLiteral("file");
    return kind + QLatin1Char(' ') + QString::number(info.isSymLink() ? 0 : info.size())
           + (info.isWritable() ? QStringLiteral(" rw") : QStringLiteral(" ro"));
}

} // namespace faulty
