#include "TestPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace dvrsim {

namespace {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

struct Glyph {
    char c;
    std::uint8_t rows[kGlyphHeight];  // bit 4 is the leftmost column
};

constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* findGlyph(char c)
{
    for (const Glyph& g : kFont)
        if (g.c == c)
            return &g;
    return nullptr;
}

void fillLuma(I420Picture& p, int x0, int y0, int x1, int y1, std::uint8_t value)
{
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, p.width);
    y1 = std::min(y1, p.height);
    for (int y = y0; y < y1; ++y)
        std::memset(p.y() + y * p.width + x0, value, static_cast<std::size_t>(std::max(0, x1 - x0)));
}

void fillChroma(I420Picture& p, int x0, int y0, int x1, int y1, std::uint8_t u, std::uint8_t v)
{
    const int cw = p.width / 2, ch = p.height / 2;
    x0 = std::max(x0 / 2, 0);
    y0 = std::max(y0 / 2, 0);
    x1 = std::min((x1 + 1) / 2, cw);
    y1 = std::min((y1 + 1) / 2, ch);
    for (int y = y0; y < y1; ++y) {
        if (x1 <= x0)
            break;
        std::memset(p.u() + y * cw + x0, u, static_cast<std::size_t>(x1 - x0));
        std::memset(p.v() + y * cw + x0, v, static_cast<std::size_t>(x1 - x0));
    }
}

}  // namespace

I420Picture::I420Picture(int w, int h)
    : width(w), height(h), data(static_cast<std::size_t>(w * h + 2 * (w / 2) * (h / 2)))
{
}

void drawCaption(I420Picture& p, int x, int y, int scale, const std::string& text)
{
    const int advance = (kGlyphWidth + 1) * scale;
    const int boxW = static_cast<int>(text.size()) * advance + scale;
    const int boxH = (kGlyphHeight + 2) * scale;
    fillLuma(p, x, y, x + boxW, y + boxH, 16);
    fillChroma(p, x, y, x + boxW, y + boxH, 128, 128);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const Glyph* g = findGlyph(text[i]);
        if (!g)
            continue;
        const int gx = x + scale + static_cast<int>(i) * advance;
        const int gy = y + scale;
        for (int row = 0; row < kGlyphHeight; ++row)
            for (int col = 0; col < kGlyphWidth; ++col)
                if (g->rows[row] & (0x10 >> col))
                    fillLuma(p, gx + col * scale, gy + row * scale, gx + (col + 1) * scale,
                             gy + (row + 1) * scale, 235);
    }
}

void paintTestPicture(I420Picture& p, int channel, int index, int loopFrames, double fps)
{
    const int w = p.width, h = p.height;
    // Stripes drift by 4 pixels a frame; a light 8x8 checker gives the
    // encoder texture without making frames large.
    const int shift = index * 4 + channel * 13;
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = p.y() + y * w;
        for (int x = 0; x < w; ++x) {
            const int stripe = (x + 2 * y + shift) % 160;
            const int checker = ((x >> 3) ^ (y >> 3)) & 1 ? 10 : 0;
            row[x] = static_cast<std::uint8_t>(40 + stripe + checker);
        }
    }
    const double hue = channel * 2.399963;  // golden angle: neighbouring channels differ
    const auto tintU = static_cast<std::uint8_t>(128 + std::lround(48 * std::cos(hue)));
    const auto tintV = static_cast<std::uint8_t>(128 + std::lround(48 * std::sin(hue)));
    fillChroma(p, 0, 0, w, h, tintU, tintV);

    const int box = h / 5;
    const int boxX = (w - box) * (index % loopFrames) / std::max(1, loopFrames - 1);
    const int boxY = h / 3 + (channel % 4) * (h / 12);
    fillLuma(p, boxX, boxY, boxX + box, boxY + box, 230);
    fillChroma(p, boxX, boxY, boxX + box, boxY + box, 128, 128);

    const int scale = std::max(2, h / 60);
    char caption[16];
    std::snprintf(caption, sizeof caption, "CH %02d", (channel + 1) % 100);
    drawCaption(p, scale * 2, scale * 2, scale, caption);
    const int perSecond = std::max(1, static_cast<int>(std::lround(fps)));
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d.%02d", (index / perSecond) % 100, index % perSecond);
    drawCaption(p, scale * 2, h - scale * 12, scale, clock);
}

}  // namespace dvrsim
