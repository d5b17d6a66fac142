#pragma once
// The progress bar of the instruction window (ProgressBar1): a value in single
// precision from 0 to 100, accumulated in the bar itself by the transfer.

#include "Progress.h"

#include <QProgressBar>

class ProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    static constexpr float kMin = Progress::kMinimum;
    static constexpr float kMax = Progress::kMaximum;

    explicit ProgressBar(QWidget *parent = nullptr);

    /// The stored value, exactly as last set (after holding it inside 0..100).
    float Value() const { return m_value; }
    /// Store the value in single precision, held within 0..100
    /// (Progress::heldInRange), so the bar never raises an error.
    void setValue(float value);

private:
    float m_value = kMin;
};
