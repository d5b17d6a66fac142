#include "ProgressBar.h"

#include <cmath>

namespace {
// The bar shows the value in quarter percents: at about 345 pixels that is finer
// than the bar can draw, while a repaint for every record (each moves it by
// 0.02 %) would cost the transfer more time than sending the record.
constexpr int kScale = 4;
} // namespace

ProgressBar::ProgressBar(QWidget *parent) : QProgressBar(parent)
{
    QProgressBar::setRange(int(kMin) * kScale, int(kMax) * kScale);
    QProgressBar::setValue(0);
    setTextVisible(false);
}

void ProgressBar::setValue(float value)
{
    m_value = Progress::heldInRange(value);
    QProgressBar::setValue(int(std::lround(double(m_value) * kScale)));
}
