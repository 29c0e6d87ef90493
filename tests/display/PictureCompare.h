#pragma once
// Comparing what a pane shows with the picture that was encoded.
#include "TestPicture.h"
#include "control/display/ColorConversion.h"

#include <QImage>

#include <cmath>
#include <vector>

namespace displaytest {

// The test picture as the pane would show it without coding loss.
inline QImage ToImage(dvrsim::I420Picture& p)
{
    QImage image(p.width, p.height, QImage::Format_RGB32);
    vyrdax::ConvertI420ToBgraReference(p.y(), p.width, p.u(), p.v(), p.width / 2, p.width, p.height, image.bits(),
                                       static_cast<int>(image.bytesPerLine()));
    return image;
}

inline double Psnr(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    double squared = 0;
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const uint8_t*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const uint8_t*>(b.constScanLine(y));
        for (int x = 0; x < a.width() * 4; ++x) {
            if (x % 4 == 3)
                continue;
            const double d = static_cast<double>(pa[x]) - pb[x];
            squared += d * d;
            ++count;
        }
    }
    if (squared == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 / (squared / static_cast<double>(count)));
}

// The best match of `shown` among the frames of a channel's loop.
inline double BestPsnr(const QImage& shown, int channel, int width, int height, int loopFrames, double fps)
{
    double best = 0;
    dvrsim::I420Picture picture(width, height);
    for (int k = 0; k < loopFrames; ++k) {
        dvrsim::paintTestPicture(picture, channel, k, loopFrames, fps);
        best = std::max(best, Psnr(shown, ToImage(picture)));
    }
    return best;
}

} // namespace displaytest
