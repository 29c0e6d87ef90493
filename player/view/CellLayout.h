#pragma once
// Where the player's display cells lie in the view, by split mode, and how
// "Next" pages through them. Plain geometry, no widgets.
#include <QRect>

namespace zoplayer {

// The grid's columns (and rows) of a split mode.
int ColumnsOfSplit(int splitMode);

// Cell `k` of `splitMode` in a view of `width` x `height`: the grid starts
// at 12, 54 and leaves 24 pixels across and 105 down for the skin. A cell
// past the grid is empty at 0, 0.
QRect CellRect(int splitMode, int k, int width, int height);

// The page start after "Next" in a split mode; back to 0 at 64.
int NextPageStart(int splitMode, int pageStart);

} // namespace zoplayer
