#include "ColourKey.h"

QImage ApplyColourKey(const QImage& bitmap, QColor key)
{
    if (bitmap.isNull())
        return {};
    QImage keyed = bitmap.convertToFormat(QImage::Format_ARGB32);
    if (keyed.isNull())
        return {};
    const QRgb keyRgb = key.rgb() & 0x00FFFFFFu;
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if ((line[x] & 0x00FFFFFFu) == keyRgb)
                line[x] = 0;
        }
    }
    return keyed.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QImage GreyedImage(const QImage& image)
{
    if (image.isNull())
        return {};
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb p = line[x];
            // Lifted towards white so a disabled image reads as inactive on
            // dark and light skins alike.
            const int level = 128 + qGray(p) / 2;
            line[x] = qRgba(level, level, level, qAlpha(p));
        }
    }
    return grey.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
