// The moving test picture of one channel, drawn straight into planar 4:2:0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvrsim {

struct I420Picture {
    I420Picture(int w, int h);
    int width;
    int height;
    std::vector<std::uint8_t> data;  // Y, then U, then V
    std::uint8_t* y() { return data.data(); }
    std::uint8_t* u() { return data.data() + width * height; }
    std::uint8_t* v() { return data.data() + width * height + (width / 2) * (height / 2); }
};

// Frame `index` of a loop of `loopFrames`: diagonal stripes and a box that
// move with the index, a tint that tells the channel, the caption
// "CH nn" and the loop clock "ss.ff" (second and frame within the loop).
void paintTestPicture(I420Picture& picture, int channel, int index, int loopFrames, double fps);

// Draws `text` (digits, upper-case C D F H T, ':', '.', '-', ' ') at (x, y)
// with each font pixel `scale` pixels wide, on a black box.
void drawCaption(I420Picture& picture, int x, int y, int scale, const std::string& text);

}  // namespace dvrsim
