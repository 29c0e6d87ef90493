// Full-MCU input kernels on four pixels per step, bit-identical to the plain
// kernels: each pixel widened to (c0, c1, c2, c3) words, one multiply-add per
// pair of pixels against a coefficient row whose fourth lane is 0. Sources
// are read exactly: no load reaches past a row's last pixel.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstring>

#include "dispatch/JpegRuntime.h"
#include "encoder/JpegEncoderKernels.h"

namespace {

inline int Load32(const uint8_t* p) {
  int v;
  std::memcpy(&v, p, 4);
  return v;
}

// Four pixels as four bytes each; for three-byte pixels the fourth byte is
// whatever follows and is multiplied by 0.
template <int PixelBytes>
__attribute__((target("sse2"))) inline __m128i LoadFour(const uint8_t* p) {
  if constexpr (PixelBytes == 4) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  } else {
    // The last pixel comes from the word at byte 8, so the load ends at the
    // group's twelfth byte.
    return _mm_setr_epi32(Load32(p), Load32(p + 3), Load32(p + 6),
                          static_cast<int>(static_cast<uint32_t>(Load32(p + 8)) >> 8));
  }
}

// Sums c0*k0 + c1*k1 + c2*k2 + c3*k3 of four pixels held two per register.
__attribute__((target("sse2"))) inline __m128i Dot(__m128i first, __m128i second, __m128i k) {
  const __m128 a = _mm_castsi128_ps(_mm_madd_epi16(first, k));
  const __m128 b = _mm_castsi128_ps(_mm_madd_epi16(second, k));
  return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                       _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
}

struct Coefficients {
  __m128i y, cb, cr;
};

template <bool BlueFirst>
__attribute__((target("sse2"))) Coefficients MakeCoefficients() {
  if constexpr (BlueFirst)
    return {_mm_setr_epi16(29, 150, 77, 0, 29, 150, 77, 0), _mm_setr_epi16(128, -85, -43, 0, 128, -85, -43, 0),
            _mm_setr_epi16(-21, -107, 128, 0, -21, -107, 128, 0)};
  else
    return {_mm_setr_epi16(77, 150, 29, 0, 77, 150, 29, 0), _mm_setr_epi16(-43, -85, 128, 0, -43, -85, 128, 0),
            _mm_setr_epi16(128, -107, -21, 0, 128, -107, -21, 0)};
}

template <int Shift>
__attribute__((target("sse2"))) inline __m128i Chroma(__m128i first, __m128i second, __m128i k) {
  return _mm_srai_epi32(_mm_add_epi32(Dot(first, second, k), _mm_set1_epi32(128 << (Shift - 8))), Shift);
}

template <int H>
inline int LumaOffset(int x, int y) {
  return ((y >> 3) * H + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7);
}

template <int PixelBytes, bool BlueFirst, bool Inverted, int H, int V>
__attribute__((target("sse2"))) void ColourKernel(const uint8_t* src, ptrdiff_t stride, int, int16_t* const dst[4]) {
  constexpr int kShift = 8 + (H - 1) + (V - 1);
  constexpr int kGroups = 2 * H;  // four-pixel groups per row
  const Coefficients k = MakeCoefficients<BlueFirst>();
  const __m128i zero = _mm_setzero_si128();
  for (int cy = 0; cy < 8; ++cy) {
    // Per group: both pixel pairs (1x1), or the pair sums of the group (2x1, 2x2).
    __m128i first[kGroups], second[kGroups];
    for (int g = 0; g < kGroups; ++g) first[g] = second[g] = zero;
    for (int dy = 0; dy < V; ++dy) {
      const int y = cy * V + dy;
      const uint8_t* row = src + y * stride;
      __m128i luma[kGroups];
      __m128i fourth[kGroups];
      for (int g = 0; g < kGroups; ++g) {
        __m128i pixels = LoadFour<PixelBytes>(row + g * 4 * PixelBytes);
        if constexpr (Inverted) {
          fourth[g] = _mm_sub_epi32(_mm_srli_epi32(pixels, 24), _mm_set1_epi32(128));
          pixels = _mm_xor_si128(pixels, _mm_set1_epi32(-1));
        }
        const __m128i lo = _mm_unpacklo_epi8(pixels, zero);
        const __m128i hi = _mm_unpackhi_epi8(pixels, zero);
        luma[g] = _mm_srai_epi32(_mm_sub_epi32(Dot(lo, hi, k.y), _mm_set1_epi32(32640)), 8);
        if constexpr (H == 1) {
          first[g] = lo;
          second[g] = hi;
        } else {
          const __m128i pairs = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
          first[g] = _mm_add_epi16(first[g], pairs);
        }
      }
      for (int block = 0; block < H; ++block) {
        const int offset = LumaOffset<H>(block * 8, y);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[0] + offset), _mm_packs_epi32(luma[2 * block], luma[2 * block + 1]));
        if constexpr (Inverted)
          _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[3] + offset),
                           _mm_packs_epi32(fourth[2 * block], fourth[2 * block + 1]));
      }
    }
    __m128i cb[2], cr[2];
    for (int half = 0; half < 2; ++half) {
      __m128i a, b;
      if constexpr (H == 1) {
        a = first[half];
        b = second[half];
      } else {
        a = first[2 * half];
        b = first[2 * half + 1];
      }
      cb[half] = Chroma<kShift>(a, b, k.cb);
      cr[half] = Chroma<kShift>(a, b, k.cr);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[1] + cy * 8), _mm_packs_epi32(cb[0], cb[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[2] + cy * 8), _mm_packs_epi32(cr[0], cr[1]));
  }
}

__attribute__((target("sse2"))) void CopyGreyKernel(const uint8_t* src, ptrdiff_t stride, int pixelBytes,
                                                    int16_t* const dst[4]) {
  if (pixelBytes != 1) {
    jpeg_input::CopyGrey(src, stride, pixelBytes, dst);
    return;
  }
  const __m128i zero = _mm_setzero_si128();
  for (int y = 0; y < 8; ++y) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + y * stride));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[0] + 8 * y),
                     _mm_sub_epi16(_mm_unpacklo_epi8(bytes, zero), _mm_set1_epi16(128)));
  }
}

__attribute__((target("sse2"))) void CopyPacked422Kernel(const uint8_t* src, ptrdiff_t stride, int,
                                                         int16_t* const dst[4]) {
  const __m128i lowByte = _mm_set1_epi16(0xFF);
  const __m128i shift = _mm_set1_epi16(128);
  for (int y = 0; y < 8; ++y) {
    const __m128i* row = reinterpret_cast<const __m128i*>(src + y * stride);
    const __m128i a = _mm_loadu_si128(row), b = _mm_loadu_si128(row + 1);
    // Even bytes are luma; odd bytes alternate Cb and Cr.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[0] + 8 * y), _mm_sub_epi16(_mm_and_si128(a, lowByte), shift));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[0] + 64 + 8 * y), _mm_sub_epi16(_mm_and_si128(b, lowByte), shift));
    const __m128i chroma = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));  // Cb Cr Cb Cr ...
    const __m128i cb = _mm_and_si128(chroma, lowByte);
    const __m128i cr = _mm_srli_epi16(chroma, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[1] + 8 * y), _mm_sub_epi16(cb, shift));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst[2] + 8 * y), _mm_sub_epi16(cr, shift));
  }
}

}  // namespace

void JpegFillInputKernelsSimd(JpegRoutineTable* table) {
  JpegInputKernel* input = table->inputKernels;
  input[kInputRgbToYcc_H1V1] = ColourKernel<3, false, false, 1, 1>;
  input[kInputBgrToYcc_H1V1] = ColourKernel<3, true, false, 1, 1>;
  input[kInputRgbToYcc_H2V2] = ColourKernel<3, false, false, 2, 2>;
  input[kInputBgrToYcc_H2V2] = ColourKernel<3, true, false, 2, 2>;
  input[kInputRgbToYcc_H2V1] = ColourKernel<3, false, false, 2, 1>;
  input[kInputBgrToYcc_H2V1] = ColourKernel<3, true, false, 2, 1>;
  input[kInputInvRgbxToYcck_H1V1] = ColourKernel<4, false, true, 1, 1>;
  input[kInputInvRgbxToYcck_H2V2] = ColourKernel<4, false, true, 2, 2>;
  input[kInputInvRgbxToYcck_H2V1] = ColourKernel<4, false, true, 2, 1>;
  input[kInputCopyGrey] = CopyGreyKernel;
  input[kInputCopyPacked422_H2V1] = CopyPacked422Kernel;
}

#endif
