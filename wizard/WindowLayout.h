#pragma once
// Measures and looks that the start window and the instruction window share:
// geometry written in twips, the named colours, the layout's fonts with the
// face that stands in where a font is not installed, and the compiled-in
// pictures drawn at a control's size.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

namespace WindowLayout {

/// Twips in one pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;

/// A length in twips as whole pixels, rounded to the nearest pixel.
int px(int twips);
/// A control's Left, Top, Width and Height in twips, as a pixel rectangle.
QRect twips(int left, int top, int width, int height);

/// Named colours of the layout, as (red, green, blue).
inline const QColor kTeal(0, 192, 192);
inline const QColor kPeach(255, 224, 192);
inline const QColor kDarkBlue(0, 0, 192);
inline const QColor kPaleYellow(255, 255, 192);
inline const QColor kGreen(0, 255, 0);
inline const QColor kYellow(255, 255, 0);
inline const QColor kLightGrey(224, 224, 224);
inline const QColor kBlack(0, 0, 0);

/// Bold fonts of the layout at `points`. Each names its face first and then a
/// close substitute (DejaVu Sans, which the build installs), so a PC without the
/// face shows the nearest look instead of whatever the platform picks.
QFont tahoma(qreal points);
QFont msSansSerif(qreal points);
QFont comicSans(qreal points);

/// The picture ":/img/<file>" drawn at `size` device-independent pixels, sharp
/// on a high-density screen; null when the file is missing or unreadable (its
/// control then simply shows nothing).
QPixmap picture(const QString &file, const QSize &size);

} // namespace WindowLayout
