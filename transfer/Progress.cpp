#include "Progress.h"

#include <cmath>

namespace Progress {

float nextValue(float barValue)
{
    const float value = float(double(barValue) + kStep);
    return value > kMaximum ? kMaximum : value;
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
