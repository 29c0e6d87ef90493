#pragma once
// The routines behind Deinterlace, for the selection table, tests and
// benchmarks. Each takes the luma plane (rows of `width` bytes) and the
// number of line pairs, and rewrites odd lines 1 .. 2 * pairs - 3.
//
// All arithmetic is done on 16-bit lanes, as the SIMD routines do it, so a
// plain twin and its SIMD routine agree bit for bit for any thresholds.
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define VYR_DEINTERLACE_X86 1
#endif

namespace vyrdax {

struct DeinterlaceThresholds {
    uint16_t edgeWeight;     // K1
    uint16_t combThreshold;  // K2, compared as signed
};

using DeinterlaceRoutine = void (*)(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds);

void DeinterlaceEightPixelPlain(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds);
void DeinterlaceFourPixelPlain(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds);
#if VYR_DEINTERLACE_X86
void DeinterlaceEightPixelSse2(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds);
void DeinterlaceFourPixelMmx(uint8_t* luma, int width, int pairs, DeinterlaceThresholds thresholds);
#endif

// Whether line pixel `middle` sticks out from `above` and `below`:
// with a, b, c the halved pixels, (a - b)(c - b) - (((a - c)^2 >> 3) * K1) > K2,
// every step wrapping at 16 bits.
inline bool CombSticksOut(uint8_t above, uint8_t middle, uint8_t below, DeinterlaceThresholds thresholds)
{
    const int a = above >> 1;
    const int b = middle >> 1;
    const int c = below >> 1;
    const uint16_t comb = static_cast<uint16_t>((a - b) * (c - b));
    const uint32_t difference = static_cast<uint16_t>(a - c);
    const uint16_t square = static_cast<uint16_t>(difference * difference);
    const uint16_t edge = static_cast<uint16_t>(static_cast<uint32_t>(square >> 3) * thresholds.edgeWeight);
    const auto score = static_cast<int16_t>(static_cast<uint16_t>(comb - edge));
    return score > static_cast<int16_t>(thresholds.combThreshold);
}

// The 8-pixel routine's average, (A + C + 1) >> 1.
inline uint8_t AverageRounded(uint8_t above, uint8_t below)
{
    return static_cast<uint8_t>((above + below + 1) >> 1);
}

// The 4-pixel routine's average, (A >> 1) + (C >> 1).
inline uint8_t AverageHalved(uint8_t above, uint8_t below)
{
    return static_cast<uint8_t>((above >> 1) + (below >> 1));
}

// Pixels first .. width - 1 of one odd line. The plain routines run it over
// whole lines; the SIMD routines over the pixels after their last full group,
// so no step ever reaches past the line.
template <uint8_t (*Average)(uint8_t, uint8_t)>
inline void DeinterlaceLinePlain(const uint8_t* above, uint8_t* middle, const uint8_t* below,
                                 size_t first, size_t width, DeinterlaceThresholds thresholds)
{
    for (size_t x = first; x < width; ++x) {
        if (CombSticksOut(above[x], middle[x], below[x], thresholds))
            middle[x] = Average(above[x], below[x]);
    }
}

} // namespace vyrdax
