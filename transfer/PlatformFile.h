#pragma once
// The file operations that must look at what a name really is before trusting
// it, one implementation file per platform (PlatformFile_unix.cpp,
// PlatformFile_win.cpp). A file dialog accepts a pipe or a link to a device,
// and a shared directory can hold a name planted by someone else: these
// functions check the opened handle, never the name alone, and never block on
// a pipe.
//
// They report instead of throwing: the caller (ImageFile) words the run-time
// error, so both platforms say the same things.

#include <QByteArray>
#include <QString>

class QFile;

namespace PlatformFile {

/// Why an operation refused or failed.
enum class Problem {
    None,
    NotFound,      ///< nothing at that name (or a folder on its way is missing)
    NotRegular,    ///< a pipe, a device, a folder or another special file
    TooLarge,      ///< larger than the caller's limit
    Link,          ///< a link (or reparse point) where none is accepted
    NotOurs,       ///< owned by another user
    Os,            ///< the system refused; `osError` says why
};

struct Outcome
{
    Problem problem = Problem::None;
    /// The system's error code (errno, or GetLastError() on Windows), 0 if none.
    int osError = 0;
    /// NotRegular: what the name turned out to be ("a pipe", "a device", ...).
    QString what;

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

/// What is at `path` when it is there but is not a plain file that a saved
/// backup may replace ("a folder", "a device", "a pipe"...); empty when it is
/// a regular file or nothing is there. Links are followed where the platform
/// follows them on saving.
QString notAPlainFile(const QString &path);

/// Creates a fresh, empty regular file `name` in this user's private
/// directory `dir` and opens `file` on it for writing.
/// The directory is created (with its parents) when missing, refused when it
/// is a link or belongs to another user, and its access narrowed to the owner
/// alone when it is ours but open to others. Whatever was at `name` before (a
/// file, a planted pipe or link) is removed first, never opened or followed.
Outcome createFreshFile(const QString &dir, const QString &name, QFile &file);

/// Where the working file lives when nothing else is configured: the user's
/// own cache (Unix) or local application data (Windows) folder + "k410-bios".
QString defaultWorkingDirectory();

/// `osError` in plain words ("the disk is full", "permission denied"), or an
/// empty string for codes without plain words.
QString plainWords(int osError);
/// The same for an error text that a Qt file object reports (the system's own
/// wording of its error code).
QString plainWords(const QString &osText);

} // namespace PlatformFile
