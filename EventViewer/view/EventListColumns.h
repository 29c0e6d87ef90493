#pragma once
// Column widths the event lists share.
#include <QFontMetrics>
#include <QWidget>

#include <algorithm>

// The lists' columns are 120 pixels wide; a time column grows where the
// list's font needs more for a whole "2026/12/09 12:10:00".
inline int TimeColumnWidth(const QWidget* list)
{
    return std::max(120, list->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00:00")) + 14);
}
