#pragma once
// Small control classes of the instruction window: captions that must stay whole
// inside the fixed geometry of the window layout. When the layout's font is not
// installed, the fallback font can be wider; these controls then draw their
// caption a little smaller instead of clipping it. font() stays the layout's font.

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

/// The largest size of `font` (in quarter points, down to 6 pt) at which `text`
/// fits in `box`, wrapped at words when `flags` has Qt::TextWordWrap.
QFont fittedFont(QFont font, const QString &text, const QSize &box, int flags = 0);

/// A label whose single-line caption shrinks to fit the label's width.
class CaptionLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// A command button whose caption wraps at words (as a graphical-style button's
/// caption does) and shrinks if it still does not fit.
class CaptionButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// A frame whose caption shrinks to fit the frame's width.
class CaptionFrame : public QGroupBox
{
    Q_OBJECT
public:
    using QGroupBox::QGroupBox;

    /// Room the caption has: the frame's width less the style's margins.
    int captionWidth() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// An option button whose caption shrinks to fit beside its indicator.
class CaptionOption : public QRadioButton
{
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};
