#include "ColorConversion.h"

#include <libyuv.h>

#include <algorithm>

namespace vyrdax {

void InitColorConversion()
{
    // The conversion library picks its processor routines on first use.
}

void ConvertI420ToBgra(const uint8_t* y, int yStride, const uint8_t* u, const uint8_t* v, int chromaStride,
                       int width, int height, uint8_t* dst, int dstStride)
{
    // "ARGB" of the conversion library is B, G, R, A in memory.
    libyuv::I420ToARGB(y, yStride, u, chromaStride, v, chromaStride, dst, dstStride, width & ~1, height & ~1);
}

void ConvertI420ToBgraReference(const uint8_t* y, int yStride, const uint8_t* u, const uint8_t* v,
                                int chromaStride, int width, int height, uint8_t* dst, int dstStride)
{
    width &= ~1;
    height &= ~1;
    auto clamp = [](double x) { return static_cast<uint8_t>(std::clamp(x + 0.5, 0.0, 255.0)); };
    for (int row = 0; row < height; ++row) {
        uint8_t* out = dst + static_cast<long>(row) * dstStride;
        for (int col = 0; col < width; ++col) {
            const double Y = 1.164 * (y[row * yStride + col] - 16);
            const double U = u[(row / 2) * chromaStride + col / 2] - 128;
            const double V = v[(row / 2) * chromaStride + col / 2] - 128;
            out[4 * col + 0] = clamp(Y + 2.018 * U);
            out[4 * col + 1] = clamp(Y - 0.391 * U - 0.813 * V);
            out[4 * col + 2] = clamp(Y + 1.596 * V);
            out[4 * col + 3] = 0xFF;
        }
    }
}

} // namespace vyrdax
