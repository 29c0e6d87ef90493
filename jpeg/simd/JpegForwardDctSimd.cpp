// Accurate forward transform on eight rows (then eight columns) at once, in
// 32-bit lanes (the compiler's vector type over SSE2 registers): the plain routine's arithmetic lane for lane. The plain column
// pass keeps 64-bit products for inputs no level-shifted sample block can
// produce; for sample input the two agree bit for bit.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

namespace {

typedef int32_t Lanes __attribute__((vector_size(16)));

struct Block16 {
  __m128i row[8];
};

__attribute__((target("sse2"))) inline Block16 Transpose(const Block16& in) {
  const __m128i* r = in.row;
  const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  Block16 out;
  out.row[0] = _mm_unpacklo_epi64(b0, b4);
  out.row[1] = _mm_unpackhi_epi64(b0, b4);
  out.row[2] = _mm_unpacklo_epi64(b1, b5);
  out.row[3] = _mm_unpackhi_epi64(b1, b5);
  out.row[4] = _mm_unpacklo_epi64(b2, b6);
  out.row[5] = _mm_unpackhi_epi64(b2, b6);
  out.row[6] = _mm_unpacklo_epi64(b3, b7);
  out.row[7] = _mm_unpackhi_epi64(b3, b7);
  return out;
}

// One pass over four lines in lanes; Column selects the second pass's scaling.
template <bool Column>
__attribute__((target("sse2"))) inline void Line(const Lanes x[8], Lanes out[8]) {
  const Lanes s07 = x[0] + x[7], s16 = x[1] + x[6], s25 = x[2] + x[5], s34 = x[3] + x[4];
  const Lanes t07 = x[0] - x[7], t16 = x[1] - x[6], t25 = x[2] - x[5], t34 = x[3] - x[4];
  const Lanes e0 = s07 + s34, e1 = s07 - s34, e2 = s16 + s25, e3 = s16 - s25;
  const Lanes a = (46341 * t07 + 2048) >> 12, b = (46341 * t34 + 2048) >> 12;
  const Lanes p = 8 * (t16 + t25), m = 8 * (t16 - t25);
  const Lanes u = a + p, v = b + m, w = a - p, y = b - m;
  constexpr int kShift = Column ? 21 : 12;
  constexpr int kRound = 1 << (kShift - 1);
  if constexpr (Column) {
    out[0] = (e0 + e2 + 32) >> 6;
    out[4] = (e0 - e2 + 32) >> 6;
  } else {
    out[0] = 8 * (e0 + e2);
    out[4] = 8 * (e0 - e2);
  }
  out[2] = (42813 * e1 + 17734 * e3 + kRound) >> kShift;
  out[6] = (17734 * e1 - 42813 * e3 + kRound) >> kShift;
  out[1] = (4017 * u + 799 * v + kRound) >> kShift;
  out[7] = (799 * u - 4017 * v + kRound) >> kShift;
  out[5] = (2276 * w + 3406 * y + kRound) >> kShift;
  out[3] = (3406 * w - 2276 * y + kRound) >> kShift;
}

// Eight lines: each 16-bit row widened to two halves of four lanes, and the
// results narrowed back keeping their low 16 bits, as the plain stores do.
template <bool Column>
__attribute__((target("sse2"))) inline Block16 Pass(const Block16& in) {
  Lanes low[8], high[8], lowOut[8], highOut[8];
  for (int i = 0; i < 8; ++i) {
    low[i] = reinterpret_cast<Lanes>(_mm_srai_epi32(_mm_unpacklo_epi16(in.row[i], in.row[i]), 16));
    high[i] = reinterpret_cast<Lanes>(_mm_srai_epi32(_mm_unpackhi_epi16(in.row[i], in.row[i]), 16));
  }
  Line<Column>(low, lowOut);
  Line<Column>(high, highOut);
  Block16 result;
  for (int i = 0; i < 8; ++i) {
    const __m128i lo = _mm_srai_epi32(_mm_slli_epi32(reinterpret_cast<__m128i>(lowOut[i]), 16), 16);
    const __m128i hi = _mm_srai_epi32(_mm_slli_epi32(reinterpret_cast<__m128i>(highOut[i]), 16), 16);
    result.row[i] = _mm_packs_epi32(lo, hi);
  }
  return result;
}

}  // namespace

__attribute__((target("sse2"))) void JpegForwardDctSse2(int16_t* block) {
  auto* rows = reinterpret_cast<__m128i*>(block);
  Block16 in;
  for (int i = 0; i < 8; ++i) in.row[i] = _mm_loadu_si128(rows + i);
  // Rows first: lanes hold the rows, so the block goes in transposed; the
  // row results come back transposed, which puts the columns in lanes.
  const Block16 columns = Transpose(Pass<false>(Transpose(in)));
  const Block16 out = Pass<true>(columns);
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(rows + i, out.row[i]);
}

#endif
