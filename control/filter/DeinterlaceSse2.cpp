// The 8-pixel routine: eight luma pixels per step in 16-bit SSE2 lanes.
#include "DeinterlaceKernels.h"

#if VYR_DEINTERLACE_X86
#include <emmintrin.h>

namespace vyrdax {

__attribute__((target("sse2")))
void DeinterlaceEightPixelSse2(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds)
{
    if (luma == nullptr || width <= 0 || pairs < 2)
        return;
    const size_t stride = static_cast<size_t>(width);
    const size_t groupEnd = stride & ~static_cast<size_t>(7);
    const __m128i zero = _mm_setzero_si128();
    const __m128i edgeWeight = _mm_set1_epi16(static_cast<short>(thresholds.edgeWeight));
    const __m128i combThreshold = _mm_set1_epi16(static_cast<short>(thresholds.combThreshold));

    for (int pair = 0; pair + 1 < pairs; ++pair) {
        uint8_t* above = luma + 2 * static_cast<size_t>(pair) * stride;
        uint8_t* middle = above + stride;
        uint8_t* below = middle + stride;
        for (size_t x = 0; x < groupEnd; x += 8) {
            const __m128i pixelA = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(above + x)), zero);
            const __m128i pixelB = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(middle + x)), zero);
            const __m128i pixelC = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(below + x)), zero);
            // Halved so that the products fit in 16 bits.
            const __m128i a = _mm_srli_epi16(pixelA, 1);
            const __m128i b = _mm_srli_epi16(pixelB, 1);
            const __m128i c = _mm_srli_epi16(pixelC, 1);
            const __m128i comb = _mm_mullo_epi16(_mm_sub_epi16(a, b), _mm_sub_epi16(c, b));
            const __m128i difference = _mm_sub_epi16(a, c);
            const __m128i edge = _mm_mullo_epi16(_mm_srli_epi16(_mm_mullo_epi16(difference, difference), 3), edgeWeight);
            const __m128i replace = _mm_cmpgt_epi16(_mm_sub_epi16(comb, edge), combThreshold);
            const __m128i average = _mm_avg_epu16(pixelA, pixelC);
            const __m128i result = _mm_or_si128(_mm_and_si128(replace, average), _mm_andnot_si128(replace, pixelB));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(middle + x), _mm_packus_epi16(result, result));
        }
        DeinterlaceLinePlain<AverageRounded>(above, middle, below, groupEnd, stride, thresholds);
    }
}

} // namespace vyrdax

#endif
