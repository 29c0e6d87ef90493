#pragma once
// Every bitmap the viewers load from their "image" folder, at the size the
// views use it.
#include <QImage>
#include <QString>

#include <functional>
#include <vector>

struct SkinBitmap {
    QString fileName;
    int width;
    int height;
    std::function<void(QPainter&, const QRect&)> draw;
};

const std::vector<SkinBitmap>& SkinBitmaps();
QImage RenderSkinBitmap(const SkinBitmap& bitmap);
