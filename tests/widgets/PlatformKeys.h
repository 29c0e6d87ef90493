#pragma once
// Keys as the window system delivers them to a window, through the same
// entry the platform plugin uses: focus, shortcuts and the dialog's default
// button all take part, as for the operator's keyboard.
#include <QString>
#include <QTest>
#include <QWindow>

#include <functional>

// No hand presses a key again within the millisecond it released it: the
// platform stamps only a repeat's release and press alike.
inline void LetGoOfTheKey()
{
    QTest::qWait(2);
}

// A key pressed and released.
inline void PlatformKeyPress(QWindow* window, Qt::Key key, const QString& text,
                             Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    qt_handleKeyEvent(window, QEvent::KeyPress, key, modifiers, text, false);
    qt_handleKeyEvent(window, QEvent::KeyRelease, key, modifiers, text, false);
    LetGoOfTheKey();
}

// A key held down for `repeats` repeats of the keyboard: the press, each
// repeat as a release and a press both marked as repeats (the X server's
// way; others send only the presses), then the release. `betweenRepeats`
// runs before each repeat and before the release: the time the key's
// repeat interval gives the event loop.
inline void PlatformHeldKey(QWindow* window, Qt::Key key, const QString& text, int repeats,
                            const std::function<void()>& betweenRepeats,
                            Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    qt_handleKeyEvent(window, QEvent::KeyPress, key, modifiers, text, false);
    for (int k = 0; k < repeats; ++k) {
        betweenRepeats();
        qt_handleKeyEvent(window, QEvent::KeyRelease, key, modifiers, text, true);
        qt_handleKeyEvent(window, QEvent::KeyPress, key, modifiers, text, true);
    }
    betweenRepeats();
    qt_handleKeyEvent(window, QEvent::KeyRelease, key, modifiers, text, false);
    LetGoOfTheKey();
}
