// The reference routines, one pixel at a time, each with the rounding of the
// SIMD routine it stands in for.
#include "DeinterlaceKernels.h"

namespace vyrdax {

namespace {

template <uint8_t (*Average)(uint8_t, uint8_t)>
void DeinterlacePlain(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds)
{
    if (luma == nullptr || width <= 0 || pairs < 2)
        return;
    const size_t stride = static_cast<size_t>(width);
    // The last odd line has no even line below it and is kept.
    for (int pair = 0; pair + 1 < pairs; ++pair) {
        uint8_t* above = luma + 2 * static_cast<size_t>(pair) * stride;
        DeinterlaceLinePlain<Average>(above, above + stride, above + 2 * stride, 0, stride, thresholds);
    }
}

} // namespace

void DeinterlaceEightPixelPlain(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds)
{
    DeinterlacePlain<AverageRounded>(luma, width, pairs, thresholds);
}

void DeinterlaceFourPixelPlain(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds)
{
    DeinterlacePlain<AverageHalved>(luma, width, pairs, thresholds);
}

} // namespace vyrdax
