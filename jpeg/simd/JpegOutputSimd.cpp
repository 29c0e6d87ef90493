// Whole-MCU output kernels on eight pixels per step. The red and blue terms
// take their offsets after the high multiply, so R and B can come out one
// below the plain kernels'; green is formed in 32 bits and equals theirs for
// any chroma.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include <cstring>

#include "dispatch/JpegRuntime.h"

namespace {

enum Layout { kRgb, kBgr, kRgba, kInvertedRgba };

struct ColourTerms {
  __m128i red, green, blue;
};

// Terms for eight chroma samples (0..255).
__attribute__((target("sse2"))) inline ColourTerms Terms(__m128i cb, __m128i cr) {
  ColourTerms t;
  t.red = _mm_sub_epi16(_mm_mulhi_epi16(_mm_slli_epi16(cr, 4), _mm_set1_epi16(5744)), _mm_set1_epi16(179));
  t.blue = _mm_sub_epi16(_mm_mulhi_epi16(_mm_slli_epi16(cb, 4), _mm_set1_epi16(7264)), _mm_set1_epi16(227));
  const __m128i factors = _mm_setr_epi16(183, 88, 183, 88, 183, 88, 183, 88);
  const __m128i bias = _mm_set1_epi32(34806);
  const __m128i low = _mm_srai_epi32(_mm_sub_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cr, cb), factors), bias), 8);
  const __m128i high = _mm_srai_epi32(_mm_sub_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cr, cb), factors), bias), 8);
  t.green = _mm_packs_epi32(low, high);
  return t;
}

inline void Store32(uint8_t* p, int v) { std::memcpy(p, &v, 4); }

// Writes eight pixels of luma y with the colour terms of each pixel.
template <Layout L>
__attribute__((target("sse2"))) inline void StorePixels(uint8_t* out, __m128i y, const ColourTerms& t,
                                                        const int16_t* fourth) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i r = _mm_packus_epi16(_mm_adds_epi16(y, t.red), zero);
  const __m128i g = _mm_packus_epi16(_mm_subs_epi16(y, t.green), zero);
  const __m128i b = _mm_packus_epi16(_mm_adds_epi16(y, t.blue), zero);
  const __m128i first = L == kBgr ? b : r;
  const __m128i third = L == kBgr ? r : b;
  __m128i fourthBytes = zero;
  if constexpr (L == kRgba) fourthBytes = _mm_set1_epi8(static_cast<char>(0xFF));
  if constexpr (L == kInvertedRgba) {
    // Alpha is the low byte of the fourth sample, neither clamped nor inverted.
    const __m128i samples = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fourth));
    fourthBytes = _mm_packus_epi16(_mm_and_si128(samples, _mm_set1_epi16(0xFF)), zero);
  }
  const __m128i pairs01 = _mm_unpacklo_epi8(first, g);
  const __m128i pairs23 = _mm_unpacklo_epi8(third, fourthBytes);
  __m128i lo = _mm_unpacklo_epi16(pairs01, pairs23);
  __m128i hi = _mm_unpackhi_epi16(pairs01, pairs23);
  if constexpr (L == kInvertedRgba) {
    const __m128i invert = _mm_set1_epi32(0x00FFFFFF);
    lo = _mm_xor_si128(lo, invert);
    hi = _mm_xor_si128(hi, invert);
  }
  if constexpr (L == kRgba || L == kInvertedRgba) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), hi);
  } else {
    // Four-byte pixels written three bytes apart; the last one byte-exact so
    // nothing past the MCU's pixels is touched.
    for (int k = 0; k < 4; ++k) Store32(out + 3 * k, _mm_cvtsi128_si32(_mm_srli_si128(lo, 4 * k)));
    for (int k = 0; k < 3; ++k) Store32(out + 12 + 3 * k, _mm_cvtsi128_si32(_mm_srli_si128(hi, 4 * k)));
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(hi, 12));
    std::memcpy(out + 21, &last, 3);
  }
}

template <Layout L, int H, int V>
__attribute__((target("sse2"))) void ColourKernel(const int16_t* const s[4], uint8_t* out, ptrdiff_t stride) {
  constexpr int kBytes = L == kRgb || L == kBgr ? 3 : 4;
  for (int y = 0; y < 8 * V; ++y) {
    const int chromaRow = (y / V) * 8;
    const ColourTerms row = Terms(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s[1] + chromaRow)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[2] + chromaRow)));
    const int blockRow = (y >> 3) * H * 64 + (y & 7) * 8;
    uint8_t* p = out + y * stride;
    for (int bx = 0; bx < H; ++bx) {
      ColourTerms t = row;
      if constexpr (H == 2) {
        // Each chroma sample serves two neighbouring pixels.
        auto spread = [bx](__m128i v) { return bx == 0 ? _mm_unpacklo_epi16(v, v) : _mm_unpackhi_epi16(v, v); };
        t = {spread(row.red), spread(row.green), spread(row.blue)};
      }
      const int16_t* luma = s[0] + blockRow + bx * 64;
      StorePixels<L>(p + bx * 8 * kBytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma)), t,
                     L == kInvertedRgba ? s[3] + blockRow + bx * 64 : nullptr);
    }
  }
}

__attribute__((target("sse2"))) void GreyKernel(const int16_t* const s[4], uint8_t* out, ptrdiff_t stride) {
  for (int y = 0; y < 8; ++y) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s[0] + 8 * y));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * stride), _mm_packus_epi16(v, v));
  }
}

__attribute__((target("sse2"))) void YcbycrKernel(const int16_t* const s[4], uint8_t* out, ptrdiff_t stride) {
  for (int y = 0; y < 8; ++y) {
    const auto row = [](const int16_t* p) { return reinterpret_cast<const __m128i*>(p); };
    const __m128i luma = _mm_packus_epi16(_mm_loadu_si128(row(s[0] + 8 * y)), _mm_loadu_si128(row(s[0] + 64 + 8 * y)));
    const __m128i cb = _mm_loadu_si128(row(s[1] + 8 * y));
    const __m128i cr = _mm_loadu_si128(row(s[2] + 8 * y));
    const __m128i chroma = _mm_unpacklo_epi8(_mm_packus_epi16(cb, cb), _mm_packus_epi16(cr, cr));
    auto* p = reinterpret_cast<__m128i*>(out + y * stride);
    _mm_storeu_si128(p, _mm_unpacklo_epi8(luma, chroma));
    _mm_storeu_si128(p + 1, _mm_unpackhi_epi8(luma, chroma));
  }
}

}  // namespace

void JpegFillOutputKernelsSimd(JpegRoutineTable* table) {
  JpegOutputSlot* k = table->outputKernels;
  k[1].kernel = GreyKernel;
  k[2].kernel = ColourKernel<kRgb, 1, 1>;
  k[3].kernel = ColourKernel<kRgb, 2, 1>;
  k[4].kernel = ColourKernel<kRgb, 2, 2>;
  k[5].kernel = ColourKernel<kBgr, 1, 1>;
  k[6].kernel = ColourKernel<kBgr, 2, 1>;
  k[7].kernel = ColourKernel<kBgr, 2, 2>;
  k[8].kernel = ColourKernel<kRgba, 1, 1>;
  k[9].kernel = ColourKernel<kRgba, 2, 1>;
  k[10].kernel = ColourKernel<kRgba, 2, 2>;
  k[15].kernel = YcbycrKernel;
  k[16].kernel = ColourKernel<kInvertedRgba, 1, 1>;
  k[17].kernel = ColourKernel<kInvertedRgba, 2, 1>;
  k[18].kernel = ColourKernel<kInvertedRgba, 2, 2>;
}

#endif
