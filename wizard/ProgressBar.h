#pragma once
// The progress bar of the instruction window (ProgressBar1): a value in single
// precision from 0 to 100, accumulated in the bar itself by the transfer.

#include <QProgressBar>

class ProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    static constexpr float kMin = 0.0f;
    static constexpr float kMax = 100.0f;

    explicit ProgressBar(QWidget *parent = nullptr);

    /// The stored value, exactly as last set (after holding it inside 0..100).
    float Value() const { return m_value; }
    /// Store the value in single precision. Values past 100 are held at 100 and
    /// values below 0 (or not a number) at 0, so the bar never raises an error.
    void setValue(float value);

private:
    float m_value = kMin;
};
