#include "ExitStatus.h"

#include "FileDialog.h"
#include "ImageFile.h"
#include "LineSettings.h"
#include "MSComm.h"
#include "Protocol.h"

namespace ExitStatus {

Status forError(int number)
{
    switch (number) {
    case kErrInvalidPortNumber:
    case kErrPortAlreadyOpen:
    case kErrPermissionDenied:
    case kErrCommState:
    case kErrInvalidPropertyValue:
        return PortUnavailable;
    case ImageFile::kErrPastEnd:
        return DamagedImage;
    case ImageFile::kErrFileNotFound:
    case ImageFile::kErrFileAccess:
    case kErrCancelSelected:
        return FileError;
    case kErrPortNotOpen:
    case kErrDeviceLost:
    case Protocol::kErrAnswersOutOfStep:
        return LineError;
    default:
        return FileError;
    }
}

QString resultWord(Status status)
{
    switch (status) {
    case Done: return QStringLiteral("done");
    case Usage: return QStringLiteral("usage");
    case NoUnit: return QStringLiteral("no unit");
    case PortUnavailable: return QStringLiteral("port unavailable");
    case DamagedImage: return QStringLiteral("damaged image");
    case FileError: return QStringLiteral("file error");
    case LineError: return QStringLiteral("line error");
    case Stopped: return QStringLiteral("stopped");
    case VerifyMismatch: return QStringLiteral("verify mismatch");
    }
    return QStringLiteral("unknown");
}

QString table()
{
    return QStringLiteral("  0  done\n"
                          "  2  usage: the command line is wrong\n"
                          "  3  no unit answered the port test\n"
                          "  4  port unavailable: absent, held by another program, not for this user, refused\n"
                          "     its settings (errors 8002, 8005, 8010, 8015)\n"
                          "  5  damaged image: a record fails its checks, or the file ends before its end\n"
                          "     record and trailer (error 62)\n"
                          "  6  file error: a file cannot be read, written or saved (errors 53, 75)\n"
                          "  7  line error or hang-up: a line error stopped the transfer, the device went\n"
                          "     away, or the unit's answers were out of step (errors 8018, 8020, 8100)\n"
                          "  8  stopped by Ctrl+C or SIGTERM\n"
                          "  9  verify mismatch: the unit does not hold the image\n");
}

} // namespace ExitStatus
