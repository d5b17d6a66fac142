#pragma once
// Small control classes of the instruction window: texts that must stay
// readable inside the fixed geometry of the window layout. When the layout's
// font is not installed, the fallback font can be wider; the caption controls
// then draw their caption a little smaller instead of clipping it. font()
// stays the layout's font. The error box, whose texts can be any length,
// shortens what it shows instead.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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

/// The one-line error box. A text wider than the box shows its start followed
/// by "…", so a cut is plain to see; text() and the tooltip hold the whole text.
/// With the focus the box shows its text as an ordinary line edit does, with
/// the caret, so the technician can move through all of it.
class ErrorBox : public QLineEdit
{
    Q_OBJECT
public:
    explicit ErrorBox(QWidget *parent = nullptr);

    /// What the box shows without the focus: the text, elided to the room the
    /// box has at its present width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    /// The room for the line of text, as QLineEdit reckons it: the style's
    /// contents rectangle less the text margins.
    QRect contentsBox() const;
};
