// The bitmaps the programs take by number, as the build leaves them beside
// the programs, and how the skinned widgets key them.
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/SkinResources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace {

struct Table {
    const char* name;
    const SkinResource* entries;
    size_t count;
    QString (*pathOf)(int);
};

const Table kTables[] = {
    {"viewers", kViewerSkinResources, std::size(kViewerSkinResources), SkinResourcePath},
    {"player", kPlayerSkinResources, std::size(kPlayerSkinResources), PlayerSkinResourcePath},
};

// In-face and out-face of each button whose numbers are not simply n, n + 1.
const std::pair<int, int> kViewerPairs[] = {
    {kBitmapPtzPanelIn, kBitmapPtzPanelOut},
    {kBitmapPresetPanelIn, kBitmapPresetPanelOut},
    {kBitmapAudioPanelIn, kBitmapAudioPanelOut},
    {kBitmapEventMonitorPageIn, kBitmapEventMonitorPageOut},
    {kBitmapEventSearchPageIn, kBitmapEventSearchPageOut},
};

const std::pair<int, int> kPlayerPairs[] = {
    {kPlayerBitmapPlayIn, kPlayerBitmapPlayOut},
    {kPlayerBitmapStopIn, kPlayerBitmapStopOut},
    {kPlayerBitmapPauseIn, kPlayerBitmapPauseOut},
    {kPlayerBitmapRewindIn, kPlayerBitmapRewindOut},
    {kPlayerBitmapFastForwardIn, kPlayerBitmapFastForwardOut},
    {kPlayerBitmapStepBackIn, kPlayerBitmapStepBackOut},
    {kPlayerBitmapStepForwardIn, kPlayerBitmapStepForwardOut},
    {kPlayerBitmapSplit4In, kPlayerBitmapSplit4Out},
    {kPlayerBitmapSplit9In, kPlayerBitmapSplit9Out},
    {kPlayerBitmapSplit16In, kPlayerBitmapSplit16Out},
    {kPlayerBitmapSplit32In, kPlayerBitmapSplit32Out},
    {kPlayerBitmapSplit64In, kPlayerBitmapSplit64Out},
    {kPlayerBitmapNextIn, kPlayerBitmapNextOut},
};

QString ProgramPath(const QString& relative)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(relative);
}

QImage LoadViewerBitmap(int id)
{
    return QImage(ProgramPath(SkinResourcePath(id)), "BMP");
}

QImage LoadPlayerBitmap(int id)
{
    return QImage(ProgramPath(PlayerSkinResourcePath(id)), "BMP");
}

bool IsKey(QRgb pixel, uint32_t key)
{
    return (pixel & 0x00FFFFFFu) == key;
}

uint32_t U32(const QByteArray& b, int at)
{
    return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8
        | static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

int DifferentPixels(const QImage& a, const QImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += (a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF);
    return count;
}

// A keyed face: its corners show the background, its middle half never does,
// and most of it is drawn. A small picture of an image list only keeps its
// corners clear and draws a good part of its square.
void ExpectKeyedShape(const QImage& image, const QRect& area, uint32_t key, bool solid)
{
    for (const QPoint& corner : {area.topLeft(), area.topRight(), area.bottomLeft(), area.bottomRight()})
        EXPECT_TRUE(IsKey(image.pixel(corner), key)) << "corner " << corner.x() << "," << corner.y();
    const QRect middle(area.left() + area.width() / 4, area.top() + area.height() / 4, area.width() / 2,
                       area.height() / 2);
    int drawn = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const bool keyed = IsKey(image.pixel(x, y), key);
            if (solid && middle.contains(x, y)) {
                EXPECT_FALSE(keyed) << "key colour inside at " << x << "," << y;
            }
            drawn += !keyed;
        }
    }
    EXPECT_GT(drawn, area.width() * area.height() / (solid ? 2 : 4));
}

} // namespace

TEST(SkinResources, TablesAndPathsAgree)
{
    EXPECT_EQ(SkinResourcePath(kBitmapDeviceTreeImages), QStringLiteral("image/res/174.bmp"));
    EXPECT_EQ(PlayerSkinResourcePath(kPlayerBitmapSplit32In), QStringLiteral("image/res/player/174.bmp"));
    for (const Table& table : kTables) {
        SCOPED_TRACE(table.name);
        std::set<int> ids;
        for (size_t i = 0; i < table.count; ++i) {
            const SkinResource& r = table.entries[i];
            SCOPED_TRACE(r.id);
            EXPECT_TRUE(ids.insert(r.id).second) << "listed twice";
            EXPECT_GT(r.width, 0);
            EXPECT_GT(r.height, 0);
            ASSERT_GE(r.images, 1);
            EXPECT_EQ(r.width % r.images, 0);
            EXPECT_TRUE(r.transparent == kSkinKeyIn || r.transparent == kSkinKeyOut || r.transparent == kSkinOpaque);
        }
    }
    ASSERT_NE(FindSkinResource(kBitmapDeviceTabActive), nullptr);
    EXPECT_EQ(FindSkinResource(kBitmapDeviceTabActive)->id, kBitmapDeviceTabActive);
    ASSERT_NE(FindPlayerSkinResource(kPlayerBitmapBottomRight), nullptr);
    EXPECT_EQ(FindPlayerSkinResource(kPlayerBitmapBottomRight)->id, kPlayerBitmapBottomRight);
    EXPECT_EQ(FindSkinResource(1), nullptr);
    EXPECT_EQ(FindPlayerSkinResource(kBitmapGoToEventViewerIn), nullptr);
}

TEST(SkinResources, EveryBitmapIsA24BitBmpAtItsSizeAndIsDrawn)
{
    for (const Table& table : kTables) {
        for (size_t i = 0; i < table.count; ++i) {
            const SkinResource& r = table.entries[i];
            SCOPED_TRACE(std::string(table.name) + " " + std::to_string(r.id) + " " + r.what);
            const QString path = ProgramPath(table.pathOf(r.id));
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            const QByteArray header = file.read(54);
            ASSERT_EQ(header.size(), 54);
            EXPECT_EQ(header.left(2), "BM");
            EXPECT_EQ(U32(header, 18), static_cast<uint32_t>(r.width));
            // Rows stored bottom-up or top-down: either sign of the height.
            EXPECT_EQ(std::abs(static_cast<int32_t>(U32(header, 22))), r.height);
            EXPECT_EQ(static_cast<uint8_t>(header[28]) | static_cast<uint8_t>(header[29]) << 8, 24);

            const QImage image(path, "BMP");
            ASSERT_FALSE(image.isNull());
            EXPECT_EQ(image.size(), QSize(r.width, r.height));
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    colours.insert(image.pixel(x, y) & 0xFFFFFF);
            // Shading at the least; a button face has a gradient and a smoothed
            // picture (swatches and the thumb are smaller and plainer).
            const bool face = r.transparent != kSkinOpaque && r.images == 1 && r.width * r.height >= 300;
            EXPECT_GE(colours.size(), face ? 12 : 3);
        }
    }
}

TEST(SkinResources, KeyedBitmapsShowTheBackgroundOnlyAroundTheirShape)
{
    for (const Table& table : kTables) {
        for (size_t i = 0; i < table.count; ++i) {
            const SkinResource& r = table.entries[i];
            if (r.transparent == kSkinOpaque)
                continue;
            SCOPED_TRACE(std::string(table.name) + " " + std::to_string(r.id) + " " + r.what);
            const QImage image(ProgramPath(table.pathOf(r.id)), "BMP");
            ASSERT_FALSE(image.isNull());
            const int imageWidth = r.width / r.images;
            for (int k = 0; k < r.images; ++k)
                ExpectKeyedShape(image, QRect(k * imageWidth, 0, imageWidth, r.height), r.transparent, r.images == 1);
        }
    }
    // The slider keys its thumb by the thumb's top-left pixel.
    const QImage thumb = LoadViewerBitmap(kBitmapSliderThumb);
    ASSERT_FALSE(thumb.isNull());
    EXPECT_TRUE(IsKey(thumb.pixel(0, 0), FindSkinResource(kBitmapSliderThumb)->transparent));
}

TEST(SkinResources, InAndOutFacesOfEachButtonMatchInSizeAndDiffer)
{
    std::vector<std::pair<int, int>> viewerPairs(std::begin(kViewerPairs), std::end(kViewerPairs));
    for (const SkinResource& r : kViewerSkinResources)
        if (r.id >= kBitmapGoToNetworkViewerIn && r.id % 2 == 0)
            viewerPairs.emplace_back(r.id, r.id + 1);
    const auto check = [](int in, int out, const SkinResource* inEntry, const SkinResource* outEntry, QImage inImage,
                          QImage outImage) {
        SCOPED_TRACE(std::to_string(in) + "/" + std::to_string(out));
        ASSERT_NE(inEntry, nullptr);
        ASSERT_NE(outEntry, nullptr);
        EXPECT_EQ(inEntry->transparent, kSkinKeyIn);
        EXPECT_EQ(outEntry->transparent, kSkinKeyOut);
        ASSERT_EQ(inImage.size(), outImage.size());
        // The highlight must be plain to see, not only the corners' key.
        EXPECT_GT(DifferentPixels(inImage, outImage), inImage.width() * inImage.height() / 3);
    };
    for (const auto& [in, out] : viewerPairs)
        check(in, out, FindSkinResource(in), FindSkinResource(out), LoadViewerBitmap(in), LoadViewerBitmap(out));
    for (const auto& [in, out] : kPlayerPairs)
        check(in, out, FindPlayerSkinResource(in), FindPlayerSkinResource(out), LoadPlayerBitmap(in),
              LoadPlayerBitmap(out));
    EXPECT_GE(viewerPairs.size(), 50u);
}

// Two buttons with the same picture would leave the operator guessing.
TEST(SkinResources, ButtonsOfOneSizeHaveDifferentPictures)
{
    const auto distinct = [](const Table& table, QImage (*load)(int)) {
        std::vector<std::pair<const SkinResource*, QImage>> faces;
        for (size_t i = 0; i < table.count; ++i)
            if (table.entries[i].transparent == kSkinKeyOut && table.entries[i].images == 1)
                faces.emplace_back(&table.entries[i], load(table.entries[i].id));
        for (size_t a = 0; a < faces.size(); ++a) {
            for (size_t b = a + 1; b < faces.size(); ++b) {
                if (faces[a].second.size() != faces[b].second.size())
                    continue;
                SCOPED_TRACE(std::string(faces[a].first->what) + " / " + faces[b].first->what);
                EXPECT_GT(DifferentPixels(faces[a].second, faces[b].second), 20);
            }
        }
    };
    distinct(kTables[0], LoadViewerBitmap);
    distinct(kTables[1], LoadPlayerBitmap);
}

TEST(SkinResources, TreeImageListsHoldFourDistinctImages)
{
    for (int id : {kBitmapDeviceTreeImages, kBitmapGroupTreeImages}) {
        const SkinResource* entry = FindSkinResource(id);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->images, 4);
        EXPECT_EQ(entry->width, 4 * kTreeImageWidth);
        EXPECT_EQ(entry->height, kTreeImageHeight);
    }
    const QImage device = LoadViewerBitmap(kBitmapDeviceTreeImages);
    const QImage group = LoadViewerBitmap(kBitmapGroupTreeImages);
    ASSERT_EQ(device.size(), QSize(4 * kTreeImageWidth, kTreeImageHeight));
    ASSERT_EQ(group.size(), device.size());
    const auto cell = [](const QImage& strip, int index) {
        return strip.copy(index * kTreeImageWidth, 0, kTreeImageWidth, kTreeImageHeight);
    };
    for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
            EXPECT_GT(DifferentPixels(cell(device, a), cell(device, b)), 15) << a << " vs " << b;
    // Cameras in a group show their device kind with the same pictures as
    // the device tree; only the last image (channel or group) differs.
    for (int kind : {kTreeImageDvr, kTreeImageIpCamera, kTreeImageVideoServer})
        EXPECT_EQ(cell(device, kind), cell(group, kind)) << kind;
    EXPECT_GT(DifferentPixels(cell(device, kTreeImageChannelOrGroup), cell(group, kTreeImageChannelOrGroup)), 15);
}

// End to end: the skinned button shows its own background where the files
// hold the key colour, and the face everywhere else.
TEST(SkinResources, SkinnedButtonShowsItsBackgroundThroughTheKey)
{
    const QColor background(0, 128, 0);
    const QImage in = LoadViewerBitmap(kBitmapSplit16In);
    const QImage out = LoadViewerBitmap(kBitmapSplit16Out);
    ASSERT_FALSE(in.isNull());
    ASSERT_FALSE(out.isNull());
    CButtonST button(nullptr, 1021);
    button.resize(in.size());
    for (auto index : {CButtonST::BackgroundIn, CButtonST::BackgroundOut, CButtonST::BackgroundFocus})
        button.SetColor(index, background, false);
    ASSERT_EQ(button.SetBitmaps(in, QColor(QRgb(kSkinKeyIn)), out, QColor(QRgb(kSkinKeyOut))),
              CButtonST::BitmapsTaken);
    const QImage shown = button.grab().toImage();
    ASSERT_EQ(shown.size(), out.size());
    EXPECT_EQ(shown.pixelColor(0, 0), background);
    EXPECT_EQ(shown.pixelColor(out.width() - 1, out.height() - 1), background);
    const QPoint middle(out.width() / 2, out.height() / 2);
    EXPECT_EQ(shown.pixel(middle) & 0xFFFFFF, out.pixel(middle) & 0xFFFFFF);

    // An open panel's button shows its in-face in both slots, keyed by its own colour.
    const QImage panel = LoadViewerBitmap(kBitmapPtzPanelIn);
    const QColor panelKey(QRgb(FindSkinResource(kBitmapPtzPanelIn)->transparent));
    CButtonST panelButton(nullptr, 1042);
    panelButton.resize(panel.size());
    for (auto index : {CButtonST::BackgroundIn, CButtonST::BackgroundOut, CButtonST::BackgroundFocus})
        panelButton.SetColor(index, background, false);
    ASSERT_EQ(panelButton.SetBitmaps(panel, panelKey, panel, panelKey), CButtonST::BitmapsTaken);
    EXPECT_EQ(panelButton.grab().toImage().pixelColor(0, 0), background);
}

TEST(SkinResources, SlidersTakeTheirSizeFromTheChannels)
{
    const QImage thumb = LoadViewerBitmap(kBitmapSliderThumb);
    for (int id : {kBitmapPtSpeedChannel, kBitmapVolumeChannel, kBitmapBackupVolumeChannel}) {
        SCOPED_TRACE(id);
        const QImage channel = LoadViewerBitmap(id);
        CBitmapSlider slider(nullptr, 1062);
        ASSERT_TRUE(slider.SetBitmapChannel(channel));
        ASSERT_TRUE(slider.SetBitmapThumb(thumb));
        EXPECT_EQ(slider.size(), channel.size());
        // The thumb fits the channel's height, or it would be cut off.
        EXPECT_LE(thumb.height(), channel.height());
        slider.SetRange(1, 100);
        slider.SetPos(1);
        const QImage atStart = slider.grab().toImage();
        slider.SetPos(100);
        const QImage atEnd = slider.grab().toImage();
        // The thumb is drawn and moves; its keyed corners leave the channel visible.
        EXPECT_GT(DifferentPixels(atStart, atEnd), thumb.width() * thumb.height() / 2);
        EXPECT_EQ(atEnd.pixel(0, 0) & 0xFFFFFF, channel.pixel(0, 0) & 0xFFFFFF);
    }
}
