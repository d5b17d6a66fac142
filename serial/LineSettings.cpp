#include "LineSettings.h"
#include "RunTimeError.h"
#include "Texts.h"

#include <QStringList>
#include <algorithm>
#include <iterator>

namespace {

// The speeds of the control's list: 110 to 256000.
constexpr int kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,
                              19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000};

[[noreturn]] void invalid()
{
    throw RunTimeError(kErrInvalidPropertyValue, Texts::text(Texts::Key::InvalidPropertyValue));
}

// A field made of decimal digits only (no sign, no spaces).
int digitsField(const QString &field)
{
    if (field.isEmpty() || field.size() > 6)
        invalid();
    int value = 0;
    for (QChar c : field) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            invalid();
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4)
        invalid();

    LineSettings s;
    s.baud = digitsField(fields[0]);
    if (std::find(std::begin(kBaudRates), std::end(kBaudRates), s.baud) == std::end(kBaudRates))
        invalid();

    if (fields[1].size() != 1)
        invalid();
    switch (fields[1].at(0).toUpper().unicode()) {
    case 'N': s.parity = 'N'; break;
    case 'E': s.parity = 'E'; break;
    case 'O': s.parity = 'O'; break;
    case 'M': s.parity = 'M'; break;
    case 'S': s.parity = 'S'; break;
    default: invalid();
    }

    s.dataBits = digitsField(fields[2]);
    if (s.dataBits < 5 || s.dataBits > 8)
        invalid();

    if (fields[3] == QLatin1String("1"))
        s.stopBitsTenths = 10;
    else if (fields[3] == QLatin1String("1.5"))
        s.stopBitsTenths = 15;
    else if (fields[3] == QLatin1String("2"))
        s.stopBitsTenths = 20;
    else
        invalid();
    return s;
}
