#include "Controls.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace {
constexpr qreal kSmallestPoints = 6.0;
constexpr qreal kPointStep = 0.25;
// Space kept free at each side of a wrapped button caption.
constexpr int kButtonMargin = 4;
// Space the frame styles keep at each side of a frame caption.
constexpr int kCaptionMargin = 8;
// Space QLineEdit keeps between its contents and its line of text.
constexpr int kLineEditHorizontalMargin = 2;
} // namespace

QFont fittedFont(QFont font, const QString &text, const QSize &box, int flags)
{
    auto fits = [&](const QFont &candidate) {
        const QFontMetrics metrics(candidate);
        if (!(flags & Qt::TextWordWrap))
            return metrics.horizontalAdvance(text) <= box.width();
        const QRect needed = metrics.boundingRect(QRect(QPoint(0, 0), box), flags, text);
        return needed.width() <= box.width() && needed.height() <= box.height();
    };
    while (!fits(font) && font.pointSizeF() - kPointStep >= kSmallestPoints)
        font.setPointSizeF(font.pointSizeF() - kPointStep);
    return font;
}

void CaptionLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect box = contentsRect();
    painter.setFont(fittedFont(font(), text(), box.size()));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawText(box, int(alignment()), text());
}

void CaptionButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);

    const QRect box = rect().adjusted(kButtonMargin, kButtonMargin, -kButtonMargin, -kButtonMargin);
    const int flags = Qt::AlignCenter | Qt::TextWordWrap;
    painter.setFont(fittedFont(font(), caption, box.size(), flags));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(box, flags, caption);
}

int CaptionFrame::captionWidth() const
{
    return width() - 2 * kCaptionMargin;
}

void CaptionFrame::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QFont caption = fittedFont(font(), title(), QSize(captionWidth(), height()));
    painter.setFont(caption);
    option.fontMetrics = QFontMetrics(caption);
    painter.drawComplexControl(QStyle::CC_GroupBox, option);
}

void CaptionOption::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect caption = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
    const QFont fitted = fittedFont(font(), text(), caption.size());
    painter.setFont(fitted);
    option.fontMetrics = QFontMetrics(fitted);
    painter.drawControl(QStyle::CE_RadioButton, option);
}

ErrorBox::ErrorBox(QWidget *parent) : QLineEdit(parent)
{
    // Whoever sets the text, the tooltip follows it.
    connect(this, &QLineEdit::textChanged, this, &QWidget::setToolTip);
}

QRect ErrorBox::contentsBox() const
{
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    return style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).marginsRemoved(textMargins());
}

QString ErrorBox::shownText() const
{
    const int room = contentsBox().width() - 2 * kLineEditHorizontalMargin;
    return fontMetrics().elidedText(text(), Qt::ElideRight, room);
}

void ErrorBox::paintEvent(QPaintEvent *event)
{
    if (hasFocus()) {
        QLineEdit::paintEvent(event);
        return;
    }
    // The panel as QLineEdit draws it, then the elided line where QLineEdit
    // puts its text: vertically centred on the font's line height.
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    const QRect box = contentsBox();
    const QFontMetrics metrics = fontMetrics();
    const int lineHeight = qMax(metrics.boundingRect(text()).height(), metrics.height());
    const int top = box.y() + (box.height() - lineHeight + 1) / 2;
    painter.setClipRect(box);
    painter.setPen(palette().text().color());
    painter.drawText(QPoint(box.x() + kLineEditHorizontalMargin, top + metrics.ascent()), shownText());
}
