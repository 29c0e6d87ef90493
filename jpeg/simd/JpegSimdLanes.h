// Helpers of the transforms that work on eight lines in 32-bit lanes: an
// 8x8 block of 16-bit values as eight registers, its transpose, and the
// widening to and narrowing from two halves of four 32-bit lanes.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace jpeg_simd {

// Four 32-bit lanes; the compiler forms their products on SSE2 registers.
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

// Each row widened to its low and high four lanes.
__attribute__((target("sse2"))) inline void WidenRows(const Block16& in, Lanes low[8], Lanes high[8]) {
  for (int i = 0; i < 8; ++i) {
    low[i] = reinterpret_cast<Lanes>(_mm_srai_epi32(_mm_unpacklo_epi16(in.row[i], in.row[i]), 16));
    high[i] = reinterpret_cast<Lanes>(_mm_srai_epi32(_mm_unpackhi_epi16(in.row[i], in.row[i]), 16));
  }
}

// Keeps the low 16 bits of each lane, as a store to a 16-bit block does.
__attribute__((target("sse2"))) inline Block16 NarrowRows(const Lanes low[8], const Lanes high[8]) {
  Block16 result;
  for (int i = 0; i < 8; ++i) {
    const __m128i lo = _mm_srai_epi32(_mm_slli_epi32(reinterpret_cast<__m128i>(low[i]), 16), 16);
    const __m128i hi = _mm_srai_epi32(_mm_slli_epi32(reinterpret_cast<__m128i>(high[i]), 16), 16);
    result.row[i] = _mm_packs_epi32(lo, hi);
  }
  return result;
}

__attribute__((target("sse2"))) inline Block16 LoadBlock(const int16_t* block) {
  Block16 b;
  for (int i = 0; i < 8; ++i) b.row[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block) + i);
  return b;
}

__attribute__((target("sse2"))) inline void StoreBlock(const Block16& b, int16_t* block) {
  for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(block) + i, b.row[i]);
}

}  // namespace jpeg_simd
