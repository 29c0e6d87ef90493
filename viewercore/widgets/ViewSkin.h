#pragma once
// Skin bitmaps of the view's buttons and sliders, loaded from the program's
// "image" folder by resource number.
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/SkinResources.h"

#include <QColor>
#include <QDir>
#include <QImage>

namespace viewer {

inline QImage SkinImage(int id)
{
    return id ? QImage(QDir::current().filePath(SkinResourcePath(id))) : QImage();
}

inline QColor SkinKeyOf(int id)
{
    const SkinResource* r = FindSkinResource(id);
    const uint32_t key = r ? r->transparent : kSkinKeyOut;
    return QColor::fromRgb(key == kSkinOpaque ? 0xFF00FF : key);
}

// Gives a button one skin face in both slots (a tab, an open panel's button).
inline void SetSkinFace(CButtonST* button, int id)
{
    const QImage face = SkinImage(id);
    if (!face.isNull())
        button->SetBitmaps(face, SkinKeyOf(id), face, SkinKeyOf(id));
}

// Skins a button with its in- and out-bitmaps (`out` 0: the in-bitmap for
// both); without the skin it shows `caption` instead.
inline void SkinButton(CButtonST* button, int in, int out, const char* caption)
{
    const QImage inFace = SkinImage(in);
    const QImage outFace = out ? SkinImage(out) : inFace;
    const int outId = out ? out : in;
    if (inFace.isNull() ||
        button->SetBitmaps(inFace, SkinKeyOf(in), outFace, SkinKeyOf(outId)) != CButtonST::BitmapsTaken)
        button->setText(caption);
    else
        button->SetDrawBorder(false);
}

} // namespace viewer
