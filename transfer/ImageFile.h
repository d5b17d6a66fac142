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
// File errors (a file that cannot be created, opened or saved, a read past the
// end) throw RunTimeError with a description in the technician's language
// that gives the reason first, in plain words, then the file (so a one-line
// box shows the reason), and where the backup is kept; the system's own
// message, when there is one, comes last. A stop request seen by the
// validator throws Protocol::TransferStopped.

#include "PlatformFile.h"
#include "Texts.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

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

/// Why a file operation failed: our words, reason first, and apart from them
/// the system's own messages, which a text shows last.
struct Failure
{
    QString words;
    QStringList system;

    bool isEmpty() const { return words.isEmpty(); }
    /// The words, then the system's messages in parentheses.
    QString text() const;
};

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
    QByteArray take(int count, Texts::Key endsBefore);

    Image m_image;
    qsizetype m_position = 0;
    bool m_open = false;
};

/// Keeps a backup in memory as it arrives and writes it into the working file
/// "k410.bak" in a private per-user folder. The working copy is a second
/// copy: when it cannot be written (a full disk) the backup goes on in memory
/// and problem() says why, so a complete backup is never thrown away for it.
class BackupWriter
{
public:
    /// File name of the working file.
    static constexpr const char *kWorkingFileName = "k410.bak";

    /// Folder named for the working file: the one set by
    /// setWorkingDirectory(), else $K410_WORKDIR, else the per-user location
    /// (PlatformFile::defaultWorkingDirectory()).
    static QString workingDirectory();
    /// Full path of the working file as things stand: in the named folder when
    /// it is private to this user (or missing), else in the private folder
    /// made for this user inside it.
    static QString workingFilePath();
    /// Redirects the working file (tests); an empty string restores the default.
    static void setWorkingDirectory(const QString &dir);

    /// Holds the working folder and checks that the working file can be made
    /// in it: the folder is made private when missing, never changed when it
    /// was there already (a private folder is made inside one that others may
    /// enter), refused when it is a link or someone else's private folder.
    /// Called before the unit is asked for anything. Throws RunTimeError.
    void check();
    /// Starts a backup: empties the bytes in memory and makes the working file
    /// afresh in the folder check() held (checking first when it was not
    /// called). Whatever was at the file's name (a planted pipe or link) is
    /// removed, never opened. A working file that cannot be made is not an
    /// error here: see problem().
    void create();
    /// Appends bytes exactly as given, in memory and, while it takes them, to
    /// the working file.
    void append(const QByteArray &bytes);
    /// Closes the working file.
    void finish();
    /// Closes the working file and lets the folder go (the procedure's endings).
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    /// The backup as received so far.
    const QByteArray &bytes() const { return m_bytes; }
    /// Path of this backup's working file.
    QString path() const;
    /// Why the working copy could not be made or written, reason first (it
    /// is incomplete, or missing); empty while it holds every byte.
    const Failure &problem() const { return m_problem; }

private:
    /// check()'s work: holds the working folder, or says why it cannot.
    Failure holdFolder();
    void failed(const Failure &why);

    PlatformFile::WorkingFolder m_folder;
    QFile m_file;
    QByteArray m_bytes;
    Failure m_problem;
};

/// Where a backup is saved, held from the save dialog on: the folder chosen,
/// whatever becomes of its name later. Nothing is written there before
/// commit(), which writes a temporary file beside the chosen name and renames
/// it over the name only once everything written has been checked. A path
/// that cannot take the backup is found before anything is read from the
/// unit, and a failed save never harms the file that was at the path.
class SaveTarget
{
public:
    SaveTarget();
    ~SaveTarget();
    SaveTarget(const SaveTarget &) = delete;
    SaveTarget &operator=(const SaveTarget &) = delete;

    /// Checks that `path` can take the backup (a name was given, it is not a
    /// folder, a pipe or a device, not a read-only file, not a link another
    /// user planted in a shared folder; its folder exists and may be written)
    /// and holds its folder. Throws RunTimeError saying why not.
    void open(const QString &path);
    /// Writes `bytes`, checks every write and the flush to the disk, replaces
    /// the file at the path, reads it back and compares it with `bytes`. On
    /// failure throws, saying where the backup is kept: in `workingCopy`, or
    /// nowhere when `workingProblem` says the working copy could not be
    /// written. The file that was at the path stays as it was unless the
    /// failure is found in the read-back. Returns a notice when the backup was
    /// saved, but not where the path leads now (the folder was moved meanwhile).
    QString commit(const QByteArray &bytes, const QString &workingCopy, const Failure &workingProblem = {});
    /// Lets the folder go; the path keeps what it had.
    void cancel();
    bool isOpen() const { return m_folder.isOpen(); }

private:
    PlatformFile::SaveFolder m_folder;
    QString m_path;
};

} // namespace ImageFile
