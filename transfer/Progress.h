#pragma once
// The progress display arithmetic: the bar's value grows by a fixed step per
// backup block and per downloaded record, accumulated in single precision in
// the bar itself; the caption reads "<bytes> byte <percent>%".

#include <QString>

namespace Progress {

/// Added to the bar once per block awaited and per record read.
constexpr double kStep = 0.019837333;
/// Bytes that one percent of the bar stands for.
constexpr double kBytesPerPercent = 803.72;
/// Range of the bar; values outside it are held at its ends.
constexpr float kMinimum = 0.0f;
constexpr float kMaximum = 100.0f;

/// `value` held within the bar's range: above kMaximum it is kMaximum, below
/// kMinimum or not a number it is kMinimum. The bar never refuses a value.
float heldInRange(float value);
/// The bar's next value: the old value plus kStep, added in double precision
/// and stored in single precision, held in range.
float nextValue(float barValue);
/// "A byte B%" for the bar value p: B = floor(p), A = floor(B x 803.72)
/// (computed in double precision).
QString caption(float barValue);
/// Label2's caption once the bar is reset: "0%".
QString zeroCaption();

} // namespace Progress
