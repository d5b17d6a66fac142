#include "WindowLayout.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace WindowLayout {

// Nearest, not truncated: a twips measure stands for a length on the screen,
// and the nearest pixel misses it by half a pixel at most, on either side.
// Truncating would take up to 14 twips off every width and height (a 2800-twip
// frame would lose most of a pixel column its caption was measured for) and
// shift every edge towards the top left.
int px(int twips)
{
    return qRound(double(twips) / kTwipsPerPixel);
}

QRect twips(int left, int top, int width, int height)
{
    return QRect(px(left), px(top), px(width), px(height));
}

namespace {

QFont boldFont(const QStringList &families, qreal points)
{
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

} // namespace

QFont tahoma(qreal points)
{
    return boldFont({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")}, points);
}

QFont msSansSerif(qreal points)
{
    return boldFont({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")}, points);
}

QFont comicSans(qreal points)
{
    return boldFont({QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"), QStringLiteral("DejaVu Sans")},
                    points);
}

QPixmap picture(const QString &file, const QSize &size)
{
    const QString path = QStringLiteral(":/img/") + file;
    if (!QFile::exists(path))
        return {};
    QSvgRenderer svg(path);
    if (!svg.isValid())
        return {};
    const qreal ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    svg.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

} // namespace WindowLayout
