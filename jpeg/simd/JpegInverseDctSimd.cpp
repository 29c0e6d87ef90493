// Accurate inverse transform on eight columns at once. The row pass forms
// 32-bit sums by pairwise multiply-add against prescaled row constants; the
// column pass stays in 16 bits with saturation at every step, which is why
// its results can differ from the plain routine by one.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

namespace {

// c1..c7 of each row group: 32768 * cos(k*pi/16) * cos(m*pi/16), m by row.
struct RowConstants {
  int16_t c1, c2, c3, c4, c5, c6, c7;
};
constexpr RowConstants kRowGroups[4] = {
    {22725, 21407, 19266, 16384, 12873, 8867, 4520},   // rows 0, 4
    {31521, 29692, 26722, 22725, 17855, 12299, 6270},  // rows 1, 7
    {29692, 27969, 25172, 21407, 16819, 11585, 5906},  // rows 2, 6
    {26722, 25172, 22654, 19266, 15137, 10426, 5315},  // rows 3, 5
};
constexpr int kRowGroupOfRow[8] = {0, 1, 2, 3, 0, 3, 2, 1};

// Multiply-add operands of one row group, against the pairs (x0, x4), (x2, x6),
// (x1, x5), (x3, x7); each 32-bit lane k yields one term of sum k.
struct RowTable {
  __m128i even04, even26, odd15, odd37;
};

__attribute__((target("sse2"))) RowTable MakeRowTable(const RowConstants& c) {
  RowTable t;
  t.even04 = _mm_setr_epi16(c.c4, c.c4, c.c4, -c.c4, c.c4, -c.c4, c.c4, c.c4);
  t.even26 = _mm_setr_epi16(c.c2, c.c6, c.c6, -c.c2, -c.c6, c.c2, -c.c2, -c.c6);
  t.odd15 = _mm_setr_epi16(c.c1, c.c5, c.c3, -c.c1, c.c5, c.c7, c.c7, c.c3);
  t.odd37 = _mm_setr_epi16(c.c3, c.c7, -c.c7, -c.c5, -c.c1, c.c3, -c.c5, -c.c1);
  return t;
}

__attribute__((target("sse2"))) __m128i RowPass(__m128i x, const RowTable& t) {
  // Dwords (x0, x4), (x1, x5), (x2, x6), (x3, x7).
  const __m128i pairs = _mm_unpacklo_epi16(x, _mm_srli_si128(x, 8));
  const __m128i p04 = _mm_shuffle_epi32(pairs, 0x00);
  const __m128i p15 = _mm_shuffle_epi32(pairs, 0x55);
  const __m128i p26 = _mm_shuffle_epi32(pairs, 0xAA);
  const __m128i p37 = _mm_shuffle_epi32(pairs, 0xFF);
  __m128i even = _mm_add_epi32(_mm_madd_epi16(p04, t.even04), _mm_madd_epi16(p26, t.even26));
  even = _mm_add_epi32(even, _mm_set1_epi32(2048));
  const __m128i odd = _mm_add_epi32(_mm_madd_epi16(p15, t.odd15), _mm_madd_epi16(p37, t.odd37));
  const __m128i front = _mm_srai_epi32(_mm_add_epi32(even, odd), 12);
  const __m128i back = _mm_srai_epi32(_mm_shuffle_epi32(_mm_sub_epi32(even, odd), 0x1B), 12);
  return _mm_packs_epi32(front, back);
}

__attribute__((target("sse2"))) inline __m128i MulHigh(__m128i a, int16_t b) {
  return _mm_mulhi_epi16(a, _mm_set1_epi16(b));
}

}  // namespace

__attribute__((target("sse2"))) void JpegIdctSse2(int16_t* block) {
  static const RowTable tables[4] = {MakeRowTable(kRowGroups[0]), MakeRowTable(kRowGroups[1]),
                                     MakeRowTable(kRowGroups[2]), MakeRowTable(kRowGroups[3])};
  auto* rows = reinterpret_cast<__m128i*>(block);
  __m128i X[8];
  for (int r = 0; r < 8; ++r) X[r] = RowPass(_mm_loadu_si128(rows + r), tables[kRowGroupOfRow[r]]);

  // tan(3pi/16) and cos(4pi/16) are stored minus one so they fit a signed
  // multiplier; the multiplicand is added back after the high multiply.
  constexpr int16_t kTan1 = 13036, kTan2 = 27146, kTan3Minus1 = -21746, kCos4Minus1 = -19195;
  const __m128i one = _mm_set1_epi16(1);
  const __m128i u3 = _mm_adds_epi16(MulHigh(X[3], kTan3Minus1), X[3]);
  const __m128i u5 = _mm_adds_epi16(MulHigh(X[5], kTan3Minus1), X[5]);
  const __m128i ta = _mm_adds_epi16(u5, X[3]);
  const __m128i tb = _mm_subs_epi16(X[5], u3);
  const __m128i v7 = _mm_adds_epi16(MulHigh(X[7], kTan1), X[1]);
  const __m128i v1 = _mm_subs_epi16(MulHigh(X[1], kTan1), X[7]);
  const __m128i w6 = _mm_adds_epi16(MulHigh(X[6], kTan2), X[2]);
  const __m128i w2 = _mm_subs_epi16(MulHigh(X[2], kTan2), X[6]);
  const __m128i b0 = _mm_adds_epi16(_mm_adds_epi16(v7, ta), one);
  const __m128i p = _mm_subs_epi16(v7, ta);
  const __m128i b3 = _mm_adds_epi16(v1, tb);
  const __m128i q = _mm_adds_epi16(_mm_subs_epi16(v1, tb), one);
  const __m128i s = _mm_adds_epi16(p, q);
  const __m128i d = _mm_subs_epi16(p, q);
  const __m128i b1 = _mm_or_si128(_mm_adds_epi16(s, MulHigh(s, kCos4Minus1)), one);
  const __m128i b2 = _mm_or_si128(_mm_adds_epi16(d, MulHigh(d, kCos4Minus1)), one);
  const __m128i s04 = _mm_adds_epi16(X[0], X[4]);
  const __m128i d04 = _mm_subs_epi16(X[0], X[4]);
  const __m128i r16 = _mm_set1_epi16(16), r15 = _mm_set1_epi16(15);
  const __m128i e0 = _mm_adds_epi16(_mm_adds_epi16(s04, w6), r16);
  const __m128i e3 = _mm_adds_epi16(_mm_subs_epi16(s04, w6), r15);
  const __m128i e1 = _mm_adds_epi16(_mm_adds_epi16(d04, w2), r16);
  const __m128i e2 = _mm_adds_epi16(_mm_subs_epi16(d04, w2), r15);
  const __m128i Z[8] = {_mm_adds_epi16(e0, b0), _mm_adds_epi16(e1, b1), _mm_adds_epi16(e2, b2),
                        _mm_adds_epi16(e3, b3), _mm_subs_epi16(e3, b3), _mm_subs_epi16(e2, b2),
                        _mm_subs_epi16(e1, b1), _mm_subs_epi16(e0, b0)};
  const __m128i shift = _mm_set1_epi16(128);
  const __m128i zero = _mm_setzero_si128();
  for (int k = 0; k < 8; ++k) {
    const __m128i sample = _mm_adds_epi16(_mm_srai_epi16(Z[k], 5), shift);
    // Pack to unsigned bytes and widen back: the clamp to 0..255.
    _mm_storeu_si128(rows + k, _mm_unpacklo_epi8(_mm_packus_epi16(sample, sample), zero));
  }
}

#endif
