#pragma once
// The checked save of a backup into the file the technician chose. Failures
// are worded as FileFailure.h says, and say where the backup is kept.

#include "FileFailure.h"
#include "PlatformFile.h"

#include <QByteArray>
#include <QString>

namespace ImageFile {

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
