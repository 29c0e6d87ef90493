#pragma once
// Enter and Escape end an in-place edit; Escape also marks that the former
// text is kept.
#include <QKeyEvent>

inline bool IsEndOfEditKey(const QKeyEvent* event, bool* escape)
{
    if (event->key() == Qt::Key_Escape) {
        *escape = true;
        return true;
    }
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}
