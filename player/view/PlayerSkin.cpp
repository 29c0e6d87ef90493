#include "PlayerSkin.h"

#include "viewercore/skinart/SkinResourceBitmaps.h"

#include <map>
#include <mutex>

namespace zoplayer {

QImage PlayerBitmap(int id)
{
    static std::mutex lock;
    static std::map<int, QImage> cache;
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache.find(id);
    if (it != cache.end())
        return it->second;
    const SkinResource* resource = FindPlayerSkinResource(id);
    const ResourcePainter* draw = FindArt(PlayerResourceArt(), id);
    QImage image = resource && draw ? RenderSkinResource(*resource, *draw) : QImage();
    cache.emplace(id, image);
    return image;
}

} // namespace zoplayer
