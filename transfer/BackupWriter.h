#pragma once
// The working backup file. A backup is kept in memory as it arrives and
// written to the working file from there; SaveTarget later saves and verifies
// it against the bytes in memory. Failures are worded as FileFailure.h says.

#include "FileFailure.h"
#include "PlatformFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace ImageFile {

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

} // namespace ImageFile
