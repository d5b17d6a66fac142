#pragma once
// The file operations that must look at what a name really is before trusting
// it, one implementation file per platform (PlatformFile_unix.cpp,
// PlatformFile_win.cpp). A file dialog accepts a pipe or a link to a device,
// and a shared directory can hold a name planted by someone else: these
// functions check the opened handle, never the name alone, and never block on
// a pipe. The two folders the backup is written to (the working folder and
// the folder chosen in the save dialog) are held open once checked, so every
// later step happens in the folder that was checked, whatever happens to its
// name meanwhile.
//
// They report instead of throwing: the callers (the image, working-file and
// save code, through FileFailure.h) word the run-time error, so both platforms
// say the same things.

#include <QByteArray>
#include <QString>

#include <memory>

class QFile;

namespace PlatformFile {

/// Why an operation refused or failed.
enum class Problem {
    None,
    NotFound,      ///< nothing at that name (or a folder on its way is missing)
    NotRegular,    ///< a pipe, a device, a folder or another special file
    TooLarge,      ///< larger than the caller's limit
    Link,          ///< a link (or reparse point) where none is accepted
    ForeignLink,   ///< a link another user made in a folder everyone may write to
    NotOurs,       ///< owned by another user
    NotPrivate,    ///< a folder of ours that others may enter; it is not changed
    ReadOnly,      ///< a file that may not be written
    Os,            ///< the system refused; `osError` says why
};

struct Outcome
{
    Outcome() = default;
    Outcome(Problem problem, int osError = 0, const QString &what = {}, const QString &path = {})
        : problem(problem), osError(osError), what(what), path(path)
    {
    }

    Problem problem = Problem::None;
    /// The system's error code (errno, or GetLastError() on Windows), 0 if none.
    int osError = 0;
    /// NotRegular: what the name turned out to be ("a pipe", "a device", ...,
    /// in the technician's language); ForeignLink: the name of the link's owner.
    QString what;
    /// The file or folder the problem is about, when it is not the one the
    /// caller named (the folder that belongs to someone else, where a link
    /// leads).
    QString path;

    bool ok() const { return problem == Problem::None; }
};

/// Reads the whole file at `path` into `bytes`. Only a regular file is read
/// (checked on the opened handle); a pipe is opened without blocking and
/// refused. Anything longer than `maxBytes`, or growing past it while being
/// read, is refused. Unix follows a link to a regular file (it looks at the
/// target before opening it); Windows cannot look before opening, so it
/// refuses a link or junction (Link) instead of following it, and refuses a
/// device name (NUL, COM1, "C:\x\com1.bio", \\.\ paths) without opening it.
Outcome readRegularFile(const QString &path, qint64 maxBytes, QByteArray &bytes);

/// The folder a backup is saved in, held open from the save dialog on, and
/// the name in it that the backup replaces. The temporary file, the rename
/// and the read-back all go through the held folder: a folder renamed, or
/// swapped for a link to another one, after the dialog cannot send the backup
/// anywhere else. No file is made before replace(): a program that is killed
/// while the backup is read leaves nothing beside the chosen name.
class SaveFolder
{
public:
    SaveFolder();
    ~SaveFolder();
    SaveFolder(const SaveFolder &) = delete;
    SaveFolder &operator=(const SaveFolder &) = delete;

    /// Holds the folder of `path` and checks the name in it: nothing there,
    /// or a regular file that may be written. A link at the name is followed
    /// only where it is safe to: on Unix when it belongs to this user or the
    /// folder it is in may not be written by everyone (ForeignLink
    /// otherwise), and then the folder the link leads to is the one held; on
    /// Windows a link or junction is refused. The folder must take a new file.
    Outcome open(const QString &path);
    bool isOpen() const;
    /// The file the backup replaces, links followed.
    QString target() const;
    /// Where the held folder is now, when it was moved, removed or replaced
    /// since open() (empty while its path still leads to it): the backup goes
    /// into the folder that was chosen, wherever that is now.
    QString movedFolder() const;
    /// Writes `bytes` to a new temporary file in the held folder, forces it to
    /// the disk and renames it over the name. On failure the temporary file
    /// is gone and the name keeps what it had.
    Outcome replace(const QByteArray &bytes);
    /// The file at the name now, read through the held folder.
    Outcome readBack(qint64 maxBytes, QByteArray &bytes);
    void close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// The private folder the working file lives in, held open once checked.
class WorkingFolder
{
public:
    WorkingFolder();
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder &) = delete;
    WorkingFolder &operator=(const WorkingFolder &) = delete;

    /// The folder open() uses for `dir`, as things stand: `dir` itself when it
    /// is missing or private to this user, else the private folder made for
    /// this user inside it (privateFolderName()).
    static QString folderFor(const QString &dir);
    /// Name of the private folder made inside a folder that others may enter.
    static QString privateFolderName();

    /// Holds the folder for `dir` (see folderFor), making it when missing,
    /// and checks that the file `name` can be made in it. A folder is only
    /// ever narrowed to its owner when it was made here and now: a folder that
    /// was there already is never changed. Refused: a link in the folder's
    /// place, a private folder that belongs to someone else or that others
    /// may enter, a folder at `name`, a folder that may not be written.
    Outcome open(const QString &dir, const QString &name);
    bool isOpen() const;
    /// The folder held.
    QString path() const;
    /// Creates a fresh, empty regular file `name` in the held folder and
    /// opens `file` on it, unbuffered, for writing. Whatever was at `name`
    /// (a file, a planted pipe or link) is removed first, never opened or
    /// followed.
    Outcome createFile(const QString &name, QFile &file);
    /// Appends `bytes` to the regular file `name` in the held folder, making
    /// it when missing (a link or pipe at the name is refused, never
    /// followed). When the file would grow past `limit`, it first becomes
    /// `olderName` (replacing the one before), so two files at most are kept.
    Outcome appendFile(const QString &name, const QByteArray &bytes, qint64 limit, const QString &olderName);
    void close();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// Where the working file lives when nothing else is configured: this user's
/// own cache (Unix) or local application data (Windows) folder + "k410-bios".
/// On Unix a cache folder that would have to be made inside a folder of
/// another user (root run with the technician's HOME, as sudo keeps it) is
/// not used: the account's own home from the user database is, so nothing of
/// root's is ever made in someone else's home.
QString defaultWorkingDirectory();

/// `osError` in plain words ("the disk is full", "permission denied") in the
/// technician's language, or an empty string for codes without plain words.
QString plainWords(int osError);
/// The same for an error text that a Qt file object reports (the system's own
/// wording of its error code).
QString plainWords(const QString &osText);

/// Tests: make every temporary file of a save under a name of its own, as on
/// a file system that cannot make a file without a name (FUSE, network
/// shares), instead of an unnamed one. Unix only; Windows always does.
void setNamedTemporaryFiles(bool named);

} // namespace PlatformFile
