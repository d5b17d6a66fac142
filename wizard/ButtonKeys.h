#pragma once
// Keyboard on the command buttons of our windows: neither window has a default
// button, so Return and Enter act only on the button that has the focus, as
// Space does.

class QKeyEvent;
class QWidget;

/// For a window's keyPressEvent: Return or keypad Enter, with no other
/// modifier, clicks the command button of `window` that has the focus. Returns
/// true when it took the key; the caller hands every other key on. Held down,
/// the key clicks once, as Space does. Option buttons and text boxes are left
/// to their own handling, so no other control turns Enter into a click.
bool clickFocusedButton(QWidget &window, const QKeyEvent &event);
