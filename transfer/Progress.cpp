#include "Progress.h"

#include <cmath>

namespace Progress {

float heldInRange(float value)
{
    if (std::isnan(value) || value < kMinimum)
        return kMinimum;
    return value > kMaximum ? kMaximum : value;
}

float nextValue(float barValue)
{
    return heldInRange(float(double(barValue) + kStep));
}

QString caption(float barValue)
{
    const double percent = std::floor(double(barValue));
    const double bytes = std::floor(percent * kBytesPerPercent);
    return QStringLiteral("%1 byte %2%").arg(qint64(bytes)).arg(qint64(percent));
}

QString zeroCaption()
{
    return QStringLiteral("0%");
}

} // namespace Progress
