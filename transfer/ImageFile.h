#pragma once
// Firmware image files (".bio" releases, ".bak" backups; one layout): image
// records back to back, the end record, then the 4-byte trailer.
//
// File errors (a file that cannot be created, opened, written or saved, a read
// past the end) throw RunTimeError with a description naming the file. A stop
// request seen by the validator throws Protocol::TransferStopped.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ImageFile {

/// Run-time error numbers of file failures.
constexpr int kErrFileNotFound = 53;
constexpr int kErrPastEnd = 62;
constexpr int kErrFileAccess = 75;

enum class Verdict { Accepted, Damaged };

/// Validates the image at `path`: its records up to the end record, and the
/// 4 trailer bytes behind it. The stop request is tested before each data
/// byte. A file that ends before its end record, or whose trailer is shorter
/// than 4 bytes, throws RunTimeError (62). The file is closed on every way out.
Verdict validateImage(const QString &path);

/// Reads an image for the record download, record by record.
class ImageReader
{
public:
    /// Opens `path` for reading from the start (closing any earlier file).
    void open(const QString &path);
    /// The next 16-byte record.
    QByteArray nextRecord();
    /// The 4 bytes that follow the end record.
    QByteArray trailer();
    void close();
    bool isOpen() const { return m_file.isOpen(); }

private:
    QFile m_file;
};

/// Writes a backup into the working file "k410.bak" in a per-user directory,
/// then saves it at the chosen path.
class BackupWriter
{
public:
    /// File name of the working file.
    static constexpr const char *kWorkingFileName = "k410.bak";

    /// Directory of the working file: the one set by setWorkingDirectory(),
    /// else $K410_WORKDIR, else the per-user location (the temporary directory
    /// on Windows; elsewhere the user's cache directory + "/k410-bios").
    static QString workingDirectory();
    /// Full path of the working file.
    static QString workingFilePath();
    /// Redirects the working file (tests); an empty string restores the default.
    static void setWorkingDirectory(const QString &dir);

    /// Creates or empties the working file for writing. The directory is
    /// created private to the user; a link planted at the file's name is
    /// never followed (the creation fails instead).
    void create();
    /// Appends bytes exactly as given.
    void append(const QByteArray &bytes);
    /// Flushes and closes the working file; a write failure throws.
    void finish();
    /// Closes the working file without reporting (the procedure's endings).
    void close();
    bool isOpen() const { return m_file.isOpen(); }

    /// Saves the closed working file at `savePath`: written beside it and
    /// renamed over it, so a failure never truncates or destroys a file that
    /// was there; then read back and compared with the working file.
    static void saveTo(const QString &savePath);
    /// Throws RunTimeError unless the file at `path` holds exactly `expected`.
    static void verifySaved(const QString &path, const QByteArray &expected);

private:
    QFile m_file;
};

} // namespace ImageFile
