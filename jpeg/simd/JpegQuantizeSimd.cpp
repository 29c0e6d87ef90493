// Quantisation and dequantisation twins: MMX four values per step, SSE2 eight.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>
#include <mmintrin.h>

#include <cstring>

namespace {

__attribute__((target("mmx"))) inline __m64 Load64(const void* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return _mm_cvtsi64_m64(v);
}

__attribute__((target("mmx"))) inline void Store64(void* p, __m64 v) {
  const int64_t bits = _mm_cvtm64_si64(v);
  std::memcpy(p, &bits, 8);
}

}  // namespace

__attribute__((target("mmx"))) void JpegQuantizeFastMmx(int16_t* block, const uint16_t* reciprocals) {
  const __m64 one = _mm_set1_pi16(1);
  // From the end of the block towards its start, as the kernel always has.
  for (int i = 60; i >= 0; i -= 4) {
    __m64 x = Load64(block + i);
    // Clamp to -8192..8191 without a signed min/max: bias to unsigned,
    // saturate at both ends, take the bias back.
    x = _mm_xor_si64(x, _mm_set1_pi16(static_cast<int16_t>(0x8000)));
    x = _mm_adds_pu16(x, _mm_set1_pi16(0x6000));
    x = _mm_subs_pu16(x, _mm_set1_pi16(static_cast<int16_t>(0xC000)));
    x = _mm_add_pi16(x, _mm_set1_pi16(static_cast<int16_t>(0xE000)));
    const __m64 product = _mm_mulhi_pi16(_mm_slli_pi16(x, 2), Load64(reciprocals + i));
    Store64(block + i, _mm_srai_pi16(_mm_add_pi16(product, one), 1));
  }
}

__attribute__((target("mmx"))) void JpegQuantizeMmx(int16_t* block, const uint16_t* reciprocals) {
  const __m64 one = _mm_set1_pi16(1);
  for (int i = 0; i < 64; i += 4) {
    // Halving the reciprocal lets 32768 (a step of 1) through the signed multiply.
    const __m64 half = _mm_srli_pi16(Load64(reciprocals + i), 1);
    const __m64 product = _mm_mulhi_pi16(_mm_slli_pi16(Load64(block + i), 3), half);
    Store64(block + i, _mm_srai_pi16(_mm_add_pi16(product, one), 1));
  }
}

__attribute__((target("sse2"))) void JpegQuantizeSse2(int16_t* block, const uint16_t* reciprocals) {
  const __m128i one = _mm_set1_epi16(1);
  for (int i = 0; i < 64; i += 8) {
    auto* b = reinterpret_cast<__m128i*>(block + i);
    const __m128i half = _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(reciprocals + i)), 1);
    const __m128i product = _mm_mulhi_epi16(_mm_slli_epi16(_mm_loadu_si128(b), 3), half);
    _mm_storeu_si128(b, _mm_srai_epi16(_mm_add_epi16(product, one), 1));
  }
}

__attribute__((target("mmx"))) void JpegDequantMmx(int16_t* block, const int32_t* multipliers) {
  for (int i = 0; i < 64; i += 4) {
    // Only a multiplier's low 16 bits reach the low half of the product:
    // sign-extend them so the saturating pack keeps them unchanged.
    const __m64 m0 = _mm_srai_pi32(_mm_slli_pi32(Load64(multipliers + i), 16), 16);
    const __m64 m1 = _mm_srai_pi32(_mm_slli_pi32(Load64(multipliers + i + 2), 16), 16);
    Store64(block + i, _mm_mullo_pi16(Load64(block + i), _mm_packs_pi32(m0, m1)));
  }
}

__attribute__((target("sse2"))) void JpegDequantSse2(int16_t* block, const int32_t* multipliers) {
  for (int i = 0; i < 64; i += 8) {
    auto* b = reinterpret_cast<__m128i*>(block + i);
    const auto* m = reinterpret_cast<const __m128i*>(multipliers + i);
    const __m128i m0 = _mm_srai_epi32(_mm_slli_epi32(_mm_loadu_si128(m), 16), 16);
    const __m128i m1 = _mm_srai_epi32(_mm_slli_epi32(_mm_loadu_si128(m + 1), 16), 16);
    _mm_storeu_si128(b, _mm_mullo_epi16(_mm_loadu_si128(b), _mm_packs_epi32(m0, m1)));
  }
}

__attribute__((target("mmx"))) void JpegEndKernelsMmx() { _mm_empty(); }

#endif
