// The 4-pixel routine: four luma pixels per step in 16-bit MMX lanes, for
// processors without SSE2.
#include "DeinterlaceKernels.h"

#if VYR_DEINTERLACE_X86
#include <mmintrin.h>

#include <cstring>

namespace vyrdax {

namespace {

__attribute__((target("mmx")))
inline __m64 LoadFourPixels(const uint8_t* pixels, __m64 zero)
{
    int32_t word;
    std::memcpy(&word, pixels, sizeof word);
    return _mm_unpacklo_pi8(_mm_cvtsi32_si64(word), zero);
}

} // namespace

__attribute__((target("mmx")))
void DeinterlaceFourPixelMmx(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds)
{
    if (luma == nullptr || width <= 0 || pairs < 2)
        return;
    const size_t stride = static_cast<size_t>(width);
    const size_t groupEnd = stride & ~static_cast<size_t>(3);
    const __m64 zero = _mm_setzero_si64();
    const __m64 edgeWeight = _mm_set1_pi16(static_cast<short>(thresholds.edgeWeight));
    const __m64 combThreshold = _mm_set1_pi16(static_cast<short>(thresholds.combThreshold));

    for (int pair = 0; pair + 1 < pairs; ++pair) {
        uint8_t* above = luma + 2 * static_cast<size_t>(pair) * stride;
        uint8_t* middle = above + stride;
        uint8_t* below = middle + stride;
        for (size_t x = 0; x < groupEnd; x += 4) {
            const __m64 pixelA = LoadFourPixels(above + x, zero);
            const __m64 pixelB = LoadFourPixels(middle + x, zero);
            const __m64 pixelC = LoadFourPixels(below + x, zero);
            const __m64 a = _mm_srli_pi16(pixelA, 1);
            const __m64 b = _mm_srli_pi16(pixelB, 1);
            const __m64 c = _mm_srli_pi16(pixelC, 1);
            const __m64 comb = _mm_mullo_pi16(_mm_sub_pi16(a, b), _mm_sub_pi16(c, b));
            const __m64 difference = _mm_sub_pi16(a, c);
            const __m64 edge = _mm_mullo_pi16(_mm_srli_pi16(_mm_mullo_pi16(difference, difference), 3), edgeWeight);
            const __m64 replace = _mm_cmpgt_pi16(_mm_sub_pi16(comb, edge), combThreshold);
            // No rounding average in MMX: halve both, and lose their low bits.
            const __m64 average = _mm_add_pi16(a, c);
            const __m64 result = _mm_or_si64(_mm_and_si64(replace, average), _mm_andnot_si64(replace, pixelB));
            const int32_t word = _mm_cvtsi64_si32(_mm_packs_pu16(result, zero));
            std::memcpy(middle + x, &word, sizeof word);
        }
        DeinterlaceLinePlain<AverageHalved>(above, middle, below, groupEnd, stride, thresholds);
    }
    // Hand the floating-point registers back.
    _mm_empty();
}

} // namespace vyrdax

#endif
