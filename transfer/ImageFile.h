#pragma once
// Firmware image files (".bio" releases, ".bak" backups; one layout): image
// records back to back, the end record, then the 4-byte trailer.
//
// An image is read from its file once, into memory; the validator checks those
// bytes and the reader hands out those same bytes, so what reaches the unit is
// exactly what was checked, whatever happens to the file meanwhile. A backup
// is kept in memory as it arrives, written to the working file from there, and
// saved and verified against the bytes in memory.
//
// File errors (a file that cannot be created, opened, written or saved, a read
// past the end) throw RunTimeError with a description naming the file and
// saying why in plain words. A stop request seen by the validator throws
// Protocol::TransferStopped.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

class QSaveFile;

namespace ImageFile {

/// Run-time error numbers of file failures.
constexpr int kErrFileNotFound = 53;
constexpr int kErrPastEnd = 62;
constexpr int kErrFileAccess = 75;

/// Largest image file accepted. The unit's firmware is about 5041 records, a
/// little over 80 KB (the progress display's full scale is 80372 bytes); 16 MiB
/// leaves room for any firmware the unit could take two hundred times over,
/// while a wrongly chosen file (a disk image, a video) is refused at once
/// instead of being read into memory and checked record by record.
constexpr qint64 kMaxImageBytes = 16 * 1024 * 1024;

enum class Verdict { Accepted, Damaged };

/// An image file's bytes, read once, and the path they came from (for messages).
struct Image
{
    QString path;
    QByteArray bytes;
};

/// Reads the image at `path` into memory: a regular file of at most
/// kMaxImageBytes, opened without blocking (a pipe or a device chosen in the
/// dialog is refused, never read). The file is closed before this returns.
Image loadImage(const QString &path);

/// Validates an image in memory: its records up to the end record, and the 4
/// trailer bytes behind it. The stop request is tested before each data byte.
/// An image that ends before its end record, or whose trailer is shorter than
/// 4 bytes, throws RunTimeError (62) naming the file.
Verdict validateImage(const Image &image);

/// Hands out an image's records for the record download, from memory.
class ImageReader
{
public:
    /// Starts again at the first record of `image`.
    void open(const Image &image);
    /// The next 16-byte record.
    QByteArray nextRecord();
    /// The 4 bytes that follow the end record.
    QByteArray trailer();
    void close();
    bool isOpen() const { return m_open; }

private:
    QByteArray take(int count, const QString &what);

    Image m_image;
    qsizetype m_position = 0;
    bool m_open = false;
};

/// Keeps a backup in memory as it arrives and writes it into the working file
/// "k410.bak" in a private per-user directory.
class BackupWriter
{
public:
    /// File name of the working file.
    static constexpr const char *kWorkingFileName = "k410.bak";

    /// Directory of the working file: the one set by setWorkingDirectory(),
    /// else $K410_WORKDIR, else the per-user location (the user's cache
    /// directory + "/k410-bios"; %LOCALAPPDATA%\k410-bios on Windows).
    static QString workingDirectory();
    /// Full path of the working file.
    static QString workingFilePath();
    /// Redirects the working file (tests); an empty string restores the default.
    static void setWorkingDirectory(const QString &dir);

    /// Starts a backup: empties the bytes in memory and creates the working
    /// file afresh. The directory must be the user's own: it is created
    /// private (0700), narrowed to 0700 when it is ours but open to others,
    /// refused when it belongs to someone else or is a link. Whatever was at
    /// the file's name (a planted pipe or link) is removed, never opened.
    void create();
    /// Appends bytes exactly as given, in memory and to the working file.
    void append(const QByteArray &bytes);
    /// Flushes and closes the working file; a write failure throws.
    void finish();
    /// Closes the working file without reporting (the procedure's endings).
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    /// The backup as received so far.
    const QByteArray &bytes() const { return m_bytes; }

private:
    QFile m_file;
    QByteArray m_bytes;
};

/// The file a backup is saved to, held from the save dialog on: a temporary
/// file beside the chosen path, renamed over it only once everything written
/// has been checked. A path that cannot take the backup is found before
/// anything is read from the unit, and a failed save never harms the file
/// that was at the path.
class SaveTarget
{
public:
    SaveTarget();
    ~SaveTarget();
    SaveTarget(const SaveTarget &) = delete;
    SaveTarget &operator=(const SaveTarget &) = delete;

    /// Checks that `path` can take the backup (a name was given, it is not a
    /// folder, a pipe or a device, its folder exists and may be written) and
    /// holds the temporary file. Throws RunTimeError saying why not.
    void open(const QString &path);
    /// Writes `bytes`, checks the write, the flush and the file's error state,
    /// replaces the file at the path, reads it back and compares it with
    /// `bytes`. On failure throws, naming `workingCopy` as where the backup is
    /// kept; the file that was at the path stays as it was unless the failure
    /// is found in the read-back.
    void commit(const QByteArray &bytes, const QString &workingCopy);
    /// Drops the temporary file; the path keeps what it had.
    void cancel();
    bool isOpen() const { return m_file != nullptr; }

private:
    std::unique_ptr<QSaveFile> m_file;
    QString m_path;
};

/// Throws RunTimeError unless the file at `path` holds exactly `expected`.
void verifySaved(const QString &path, const QByteArray &expected);

} // namespace ImageFile
