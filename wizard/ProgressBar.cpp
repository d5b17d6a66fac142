#include "ProgressBar.h"

#include <cmath>

namespace {
// The bar shows the value in hundredths so that fractional progress still moves it.
constexpr int kScale = 100;
} // namespace

ProgressBar::ProgressBar(QWidget *parent) : QProgressBar(parent)
{
    QProgressBar::setRange(int(kMin) * kScale, int(kMax) * kScale);
    QProgressBar::setValue(0);
    setTextVisible(false);
}

void ProgressBar::setValue(float value)
{
    if (std::isnan(value) || value < kMin)
        value = kMin;
    else if (value > kMax)
        value = kMax;
    m_value = value;
    QProgressBar::setValue(int(std::lround(double(value) * kScale)));
}
