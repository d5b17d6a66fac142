#pragma once
// Every run-time error number the program raises (RunTimeError::number()),
// with its name and what it means. The code throws with the named constants;
// kErrorNumbers lists them all for whatever must walk them (a command line
// mapping them to exit statuses, the test that every number thrown is in it).
// The numbers are the platform's own run-time error numbers for the same
// failures, except 8100, which is ours. An entry's name is its constant's
// name without "kErr".

#include <string_view>

// ---- The serial control's line settings
/// A property of the serial control was given a value it does not take
/// (settings that are not "speed,parity,data,stop" with supported values).
constexpr int kErrInvalidPropertyValue = 380;

// ---- Files
/// No file was named, or there is none at the path (an image to send).
constexpr int kErrFileNotFound = 53;
/// Input past the end of a file: an image ends before its end record or trailer.
constexpr int kErrPastEnd = 62;
/// A file or folder cannot be used: the image, the working folder or file,
/// or the place chosen for the backup.
constexpr int kErrFileAccess = 75;

// ---- The serial control
constexpr int kErrInvalidPortNumber = 8002; ///< no such port, or no device behind it
constexpr int kErrPortAlreadyOpen = 8005;   ///< held by another program or control, or this control is open
constexpr int kErrPermissionDenied = 8010;  ///< this user may not open the device
constexpr int kErrCommState = 8015;         ///< the device refused the line settings
constexpr int kErrPortNotOpen = 8018;       ///< an operation valid only while the port is open
constexpr int kErrDeviceLost = 8020;        ///< the device went away while open

// ---- The exchanges with the unit
/// The unit answered after it had accepted the upgrade trailer, so its
/// answers and what was sent cannot have been matched one to one.
constexpr int kErrAnswersOutOfStep = 8100;

// ---- The file dialog
/// The chosen path is longer than the file dialog hands back.
constexpr int kErrBufferTooSmall = 20476;
/// The technician cancelled a file dialog.
constexpr int kErrCancelSelected = 32755;

/// One run-time error number: the number, its name and a one-line meaning.
struct ErrorNumber
{
    int number;
    std::string_view name;
    std::string_view meaning;
};

/// Every number the program raises, in ascending order.
inline constexpr ErrorNumber kErrorNumbers[] = {
    {kErrFileNotFound, "FileNotFound", "file not found: no image named, or none at the path"},
    {kErrPastEnd, "PastEnd", "input past end of file: the image ends before its end record or trailer"},
    {kErrFileAccess, "FileAccess", "file or folder cannot be used (image, working file, backup path)"},
    {kErrInvalidPropertyValue, "InvalidPropertyValue", "invalid property value: line settings not taken"},
    {kErrInvalidPortNumber, "InvalidPortNumber", "invalid port number: no such port, or no device behind it"},
    {kErrPortAlreadyOpen, "PortAlreadyOpen", "port already open, here or by another program"},
    {kErrPermissionDenied, "PermissionDenied", "permission denied: this user may not open the port"},
    {kErrCommState, "CommState", "the device refused the line settings"},
    {kErrPortNotOpen, "PortNotOpen", "operation valid only when the port is open"},
    {kErrDeviceLost, "DeviceLost", "the serial device went away while open"},
    {kErrAnswersOutOfStep, "AnswersOutOfStep", "the unit's answers were out of step with what was sent"},
    {kErrBufferTooSmall, "BufferTooSmall", "the chosen path is longer than the file dialog takes"},
    {kErrCancelSelected, "CancelSelected", "cancel was selected in a file dialog"},
};

/// The entry of `number`, or nullptr when the program never raises it.
constexpr const ErrorNumber *findErrorNumber(int number)
{
    for (const ErrorNumber &entry : kErrorNumbers) {
        if (entry.number == number)
            return &entry;
    }
    return nullptr;
}

namespace errornumbers_detail {
constexpr bool ascendingAndNamed()
{
    int last = 0;
    for (const ErrorNumber &entry : kErrorNumbers) {
        if (entry.number <= last || entry.name.empty() || entry.meaning.empty())
            return false;
        last = entry.number;
    }
    return true;
}
} // namespace errornumbers_detail

static_assert(errornumbers_detail::ascendingAndNamed(),
              "kErrorNumbers: numbers distinct and ascending, each with a name and a meaning");
