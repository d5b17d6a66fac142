#pragma once
// The line settings string of the serial control, "speed,parity,data,stop"
// (for example "19200,N,8,1"), parsed into its four parts.

#include <QString>

struct LineSettings
{
    int baud = 19200;
    /// 'N' none, 'E' even, 'O' odd, 'M' mark, 'S' space (always upper case here).
    char parity = 'N';
    int dataBits = 8;
    /// 10 = 1, 15 = 1.5, 20 = 2 stop bits.
    int stopBitsTenths = 10;

    /// Parses a settings string; throws RunTimeError 380 "Invalid property value"
    /// when the text is not four comma-separated fields with a supported speed
    /// (110 to 256000 from the control's list), parity N/E/O/M/S (either case),
    /// 5 to 8 data bits and 1, 1.5 or 2 stop bits. No spaces are allowed.
    static LineSettings parse(const QString &text);
};
