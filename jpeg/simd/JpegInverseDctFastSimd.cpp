// Fast (AAN) inverse transform on eight columns, then eight rows, at once in
// 32-bit lanes: the plain routine's arithmetic lane for lane, so its samples
// are the plain routine's for every input.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include "decoder/JpegAanInverseLine.h"
#include "simd/JpegSimdLanes.h"

namespace {

using namespace jpeg_simd;

__attribute__((target("sse2"))) inline Block16 Columns(const Block16& in) {
  Lanes low[8], high[8], lowOut[8], highOut[8];
  WidenRows(in, low, high);
  JpegAanInverseLine(low, lowOut);
  JpegAanInverseLine(high, highOut);
  return NarrowRows(lowOut, highOut);
}

}  // namespace

__attribute__((target("sse2"))) void JpegInverseDctFastMmx(int16_t* block) {
  // Columns have their lines in lanes as the block stands; the rows go in
  // transposed and their samples come back transposed.
  const Block16 rows = Transpose(Columns(LoadBlock(block)));
  Lanes low[8], high[8], lowOut[8], highOut[8];
  WidenRows(rows, low, high);
  JpegAanInverseLine(low, lowOut);
  JpegAanInverseLine(high, highOut);
  const Lanes round = {8, 8, 8, 8}, shift = {128, 128, 128, 128};
  for (int i = 0; i < 8; ++i) {
    lowOut[i] = ((lowOut[i] + round) >> 4) + shift;
    highOut[i] = ((highOut[i] + round) >> 4) + shift;
  }
  // Clamp to 0..255: saturating packs to unsigned bytes, widened back.
  Block16 saturated;
  for (int i = 0; i < 8; ++i) {
    const __m128i lo = _mm_packs_epi32(reinterpret_cast<__m128i>(lowOut[i]), reinterpret_cast<__m128i>(highOut[i]));
    saturated.row[i] = _mm_unpacklo_epi8(_mm_packus_epi16(lo, lo), _mm_setzero_si128());
  }
  StoreBlock(Transpose(saturated), block);
}

#endif
