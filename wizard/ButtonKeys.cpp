#include "ButtonKeys.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QToolButton>

bool clickFocusedButton(QWidget &window, const QKeyEvent &event)
{
    if (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter)
        return false;
    const Qt::KeyboardModifiers modifiers = event.modifiers();
    if (modifiers != Qt::NoModifier && modifiers != Qt::KeypadModifier)
        return false;
    QWidget *focused = window.focusWidget();
    if (!focused || focused->window() != &window)
        return false;
    if (!qobject_cast<QPushButton *>(focused) && !qobject_cast<QToolButton *>(focused))
        return false;
    // The repeats of a held key are taken and dropped, or holding Return on
    // Next would run through several steps at once.
    if (!event.isAutoRepeat())
        static_cast<QAbstractButton *>(focused)->click();
    return true;
}
