#pragma once
// The exit statuses of k410-flash: one per way a command can end, so that a
// script can tell a unit that was not found from a port held by another
// program, a damaged image or a unit that holds another image. Run-time errors
// map to a status by their number.

#include <QString>

namespace ExitStatus {

enum Status {
    Done = 0,            ///< what the command was asked to do is done
    Usage = 2,           ///< the command line is wrong
    NoUnit = 3,          ///< no port answered the port test
    PortUnavailable = 4, ///< the port is absent, held by another program, refused or not for this user
    DamagedImage = 5,    ///< the image fails its checks or ends before its end record and trailer
    FileError = 6,       ///< a file could not be read, written or saved
    LineError = 7,       ///< a line error, the device lost, or answers out of step
    Stopped = 8,         ///< stopped by Ctrl+C or SIGTERM
    VerifyMismatch = 9,  ///< the unit does not hold the image
};

/// The status for a run-time error number.
Status forError(int number);

/// The word for a status in the JSON result ("done", "no unit", ...).
QString resultWord(Status status);

/// The table for --help and the manual page, one status a line.
QString table();

} // namespace ExitStatus
