#pragma once
// The bitmaps the programs take by number: art for every entry of the tables
// in SkinResources.h, drawn at the entry's size over its transparent colour.
#include "viewercore/widgets/SkinResources.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

#include <cstddef>
#include <functional>
#include <vector>

using ResourcePainter = std::function<void(QPainter&, const QRect&)>;

struct ResourceArt {
    int id;
    ResourcePainter draw;
};

const std::vector<ResourceArt>& ViewerResourceArt();
const std::vector<ResourceArt>& PlayerResourceArt();

// The art of `id` in `art`; null when there is none.
const ResourcePainter* FindArt(const std::vector<ResourceArt>& art, int id);

// True when every table entry has exactly one piece of art and every piece of
// art has an entry; otherwise false with the first mismatch in *problem.
bool ArtMatchesTable(const std::vector<ResourceArt>& art, const SkinResource* table, std::size_t count,
                     QString* problem);

QImage RenderSkinResource(const SkinResource& resource, const ResourcePainter& draw);
