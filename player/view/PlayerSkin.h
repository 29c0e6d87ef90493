#pragma once
// The player's skin bitmaps, drawn inside the program: a backup folder has
// no "image" directory to load them from.
#include <QImage>

namespace zoplayer {

// The bitmap of resource `id` (the player's numbers); null for an unknown id.
QImage PlayerBitmap(int id);

} // namespace zoplayer
