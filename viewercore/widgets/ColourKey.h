#pragma once
// Colour-keyed transparency for skin bitmaps: every pixel of the key colour
// becomes fully transparent, so the widget's background shows through it.
#include <QColor>
#include <QImage>

// Returns a premultiplied ARGB copy of `bitmap` with the key pixels cleared;
// a null image when `bitmap` is null or the copy cannot be made.
QImage ApplyColourKey(const QImage& bitmap, QColor key);

// Pale grey copy used for the image of a disabled button.
QImage GreyedImage(const QImage& image);
