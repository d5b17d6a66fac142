#include "ExitStatus.h"

#include "ErrorNumbers.h"

#include <QStringList>

namespace ExitStatus {
namespace {

struct ErrorExit
{
    int number;
    Status status;
};

/// The status of every run-time error number the program raises.
constexpr ErrorExit kErrorExits[] = {
    {kErrFileNotFound, FileError},
    {kErrPastEnd, DamagedImage},
    {kErrFileAccess, FileError},
    {kErrInvalidPropertyValue, PortUnavailable},
    {kErrInvalidPortNumber, PortUnavailable},
    {kErrPortAlreadyOpen, PortUnavailable},
    {kErrPermissionDenied, PortUnavailable},
    {kErrCommState, PortUnavailable},
    {kErrPortNotOpen, LineError},
    {kErrDeviceLost, LineError},
    {kErrAnswersOutOfStep, LineError},
    {kErrBufferTooSmall, FileError},
    {kErrCancelSelected, FileError},
};

constexpr bool everyNumberHasAStatus()
{
    for (const ErrorNumber &entry : kErrorNumbers) {
        bool found = false;
        for (const ErrorExit &exit : kErrorExits)
            found = found || exit.number == entry.number;
        if (!found)
            return false;
    }
    return true;
}
static_assert(everyNumberHasAStatus(),
              "every run-time error number in kErrorNumbers needs an exit status in kErrorExits");

/// "(errors 8002, 8005)" for the numbers that end with `status`; empty for none.
QString numbersOf(Status status)
{
    QStringList numbers;
    for (const ErrorExit &exit : kErrorExits) {
        // The file dialog's numbers never come from k410-flash, which opens none.
        if (exit.status == status && exit.number != kErrBufferTooSmall && exit.number != kErrCancelSelected)
            numbers << QString::number(exit.number);
    }
    if (numbers.isEmpty())
        return {};
    return QStringLiteral(" (error%1 %2)").arg(numbers.size() > 1 ? QStringLiteral("s") : QString(),
                                                numbers.join(QStringLiteral(", ")));
}

} // namespace

Status forError(int number)
{
    for (const ErrorExit &exit : kErrorExits) {
        if (exit.number == number)
            return exit.status;
    }
    // A number outside the table is a fault of ours; no status claims success.
    return LineError;
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
                          "  4  port unavailable: absent, held by another program, not for this user,\n"
                          "     or it refused its settings%1\n"
                          "  5  damaged image: a record fails its checks, or the file ends before its end\n"
                          "     record and trailer%2\n"
                          "  6  file error: a file cannot be read, written or saved%3\n"
                          "  7  line error or hang-up: a line error stopped the transfer, the device went\n"
                          "     away, or the unit's answers were out of step%4\n"
                          "  8  stopped by Ctrl+C or SIGTERM\n"
                          "  9  verify mismatch: the unit does not hold the image\n")
        .arg(numbersOf(PortUnavailable), numbersOf(DamagedImage), numbersOf(FileError), numbersOf(LineError));
}

} // namespace ExitStatus
