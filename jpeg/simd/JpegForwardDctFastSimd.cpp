// Fast (AAN) forward transform on eight rows, then eight columns, at once in
// 32-bit lanes: the plain routine's arithmetic lane for lane, its row results
// kept in 32 bits as the plain routine keeps them, so the coefficients are
// the plain routine's for every input.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include "encoder/JpegAanForwardLine.h"
#include "simd/JpegSimdLanes.h"

namespace {

using namespace jpeg_simd;

__attribute__((target("sse2"))) inline void Transpose4(const Lanes in[4], Lanes out[4]) {
  const __m128i a = reinterpret_cast<__m128i>(in[0]), b = reinterpret_cast<__m128i>(in[1]);
  const __m128i c = reinterpret_cast<__m128i>(in[2]), d = reinterpret_cast<__m128i>(in[3]);
  const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpacklo_epi32(c, d);
  const __m128i t2 = _mm_unpackhi_epi32(a, b), t3 = _mm_unpackhi_epi32(c, d);
  out[0] = reinterpret_cast<Lanes>(_mm_unpacklo_epi64(t0, t1));
  out[1] = reinterpret_cast<Lanes>(_mm_unpackhi_epi64(t0, t1));
  out[2] = reinterpret_cast<Lanes>(_mm_unpacklo_epi64(t2, t3));
  out[3] = reinterpret_cast<Lanes>(_mm_unpackhi_epi64(t2, t3));
}

}  // namespace

__attribute__((target("sse2"))) void JpegForwardDctMmx(int16_t* block) {
  // Rows in lanes: the block goes in transposed.
  Lanes low[8], high[8], rowLow[8], rowHigh[8];
  WidenRows(Transpose(LoadBlock(block)), low, high);
  JpegAanForwardLine(low, rowLow);    // lane r: row r's coefficient k, rows 0-3
  JpegAanForwardLine(high, rowHigh);  // rows 4-7
  // Columns in lanes: the 32-bit row results transposed quarter by quarter.
  Lanes columnLow[8], columnHigh[8];
  Transpose4(rowLow, columnLow);        // coefficients 0-3 of rows 0-3
  Transpose4(rowHigh, columnHigh);      // coefficients 0-3 of rows 4-7
  Transpose4(rowLow + 4, columnLow + 4);    // coefficients 4-7 of rows 0-3
  Transpose4(rowHigh + 4, columnHigh + 4);  // coefficients 4-7 of rows 4-7
  Lanes x[8], y[8], outLow[8], outHigh[8];
  for (int i = 0; i < 8; ++i) x[i] = i < 4 ? columnLow[i] : columnHigh[i - 4];
  JpegAanForwardLine(x, outLow);  // columns 0-3
  for (int i = 0; i < 8; ++i) y[i] = i < 4 ? columnLow[i + 4] : columnHigh[i];
  JpegAanForwardLine(y, outHigh);  // columns 4-7
  StoreBlock(NarrowRows(outLow, outHigh), block);
}

#endif
