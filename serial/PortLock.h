#pragma once
// The lock files that the serial library keeps beside the device locks
// (Unix: LCK..<device> in the system's lock folder). A program that is killed
// while it holds a port leaves its lock file behind; a copy of the program
// run by another user may not remove a lock of root's, so the port stays
// closed to it although no program holds it. These functions tell such a
// left-over lock from a live one, so the message can say what to do.

#include <QString>
#include <QStringList>

namespace PortLock {

/// Every place the serial library may keep the lock file of `device`, in the
/// order it looks at them. Empty on Windows, where a port needs no lock file.
QStringList lockFilesFor(const QString &device);

/// A lock file of `device` that was left by a program that has ended (its
/// process is gone, or the machine was started again since); empty when
/// there is none, or when the program that wrote it may still be running.
QString staleLockFile(const QString &device);

} // namespace PortLock
