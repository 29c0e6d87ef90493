// Full-MCU input kernels: colour conversion, level shift and downsampling of
// one complete MCU into the MCU sample buffer.
#include "encoder/JpegEncoderKernels.h"

namespace {

inline int Luma(int r, int g, int b) { return (77 * r + 150 * g + 29 * b - 32640) >> 8; }

// Chroma from sums of n = 1, 2 or 4 pixels: rounding 128 * n, shift 8 + log2(n).
template <int Shift>
inline int ChromaB(int r, int g, int b) {
  return (-43 * r - 85 * g + 128 * b + (128 << (Shift - 8))) >> Shift;
}
template <int Shift>
inline int ChromaR(int r, int g, int b) {
  return (128 * r - 107 * g - 21 * b + (128 << (Shift - 8))) >> Shift;
}

// Luma-resolution sample (x, y) of an MCU H blocks wide lives in block
// (y / 8) * H + x / 8.
template <int H>
inline int LumaOffset(int x, int y) {
  return ((y >> 3) * H + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7);
}

// RGB-family kernels: RedAt/BlueAt pick the byte order, Inverted the
// four-channel layout whose bytes hold 255 minus the value and whose fourth
// byte is a fourth component at luma resolution.
template <int RedAt, int BlueAt, bool Inverted, int PixelBytes, int H, int V>
void ColourKernel(const uint8_t* src, ptrdiff_t stride, int16_t* const dst[4]) {
  constexpr int kWidth = 8 * H;
  constexpr int kShift = 8 + (H - 1) + (V - 1);
  int sumR[8][8] = {}, sumG[8][8] = {}, sumB[8][8] = {};
  for (int y = 0; y < 8 * V; ++y) {
    const uint8_t* row = src + y * stride;
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t* p = row + x * PixelBytes;
      int r = p[RedAt], g = p[1], b = p[BlueAt];
      if (Inverted) {
        r = 255 - r;
        g = 255 - g;
        b = 255 - b;
        dst[3][LumaOffset<H>(x, y)] = static_cast<int16_t>(p[3] - 128);
      }
      dst[0][LumaOffset<H>(x, y)] = static_cast<int16_t>(Luma(r, g, b));
      sumR[y / V][x / H] += r;
      sumG[y / V][x / H] += g;
      sumB[y / V][x / H] += b;
    }
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      dst[1][y * 8 + x] = static_cast<int16_t>(ChromaB<kShift>(sumR[y][x], sumG[y][x], sumB[y][x]));
      dst[2][y * 8 + x] = static_cast<int16_t>(ChromaR<kShift>(sumR[y][x], sumG[y][x], sumB[y][x]));
    }
}

// Copy kernels: byte - 128 per component in byte order; components 1 and 2
// are averaged over H x V pixels, components 0 and 3 keep full resolution.
template <int Components, int H, int V>
void CopyKernel(const uint8_t* src, ptrdiff_t stride, int pixelBytes, int16_t* const dst[4]) {
  constexpr int kWidth = 8 * H;
  constexpr int kCount = H * V;
  int sum1[8][8] = {}, sum2[8][8] = {};
  for (int y = 0; y < 8 * V; ++y) {
    const uint8_t* row = src + y * stride;
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t* p = row + x * pixelBytes;
      dst[0][LumaOffset<H>(x, y)] = static_cast<int16_t>(p[0] - 128);
      if (Components >= 3) {
        sum1[y / V][x / H] += p[1];
        sum2[y / V][x / H] += p[2];
      }
      if (Components == 4) dst[3][LumaOffset<H>(x, y)] = static_cast<int16_t>(p[3] - 128);
    }
  }
  if (Components < 3) return;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      dst[1][y * 8 + x] = static_cast<int16_t>((sum1[y][x] + kCount / 2) / kCount - 128);
      dst[2][y * 8 + x] = static_cast<int16_t>((sum2[y][x] + kCount / 2) / kCount - 128);
    }
}

}  // namespace

namespace jpeg_input {

void RgbToYcc_H1V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<0, 2, false, 3, 1, 1>(s, st, d); }
void BgrToYcc_H1V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<2, 0, false, 3, 1, 1>(s, st, d); }
void RgbToYcc_H2V2(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<0, 2, false, 3, 2, 2>(s, st, d); }
void BgrToYcc_H2V2(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<2, 0, false, 3, 2, 2>(s, st, d); }
void RgbToYcc_H2V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<0, 2, false, 3, 2, 1>(s, st, d); }
void BgrToYcc_H2V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<2, 0, false, 3, 2, 1>(s, st, d); }
void InvRgbxToYcck_H1V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<0, 2, true, 4, 1, 1>(s, st, d); }
void InvRgbxToYcck_H2V2(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<0, 2, true, 4, 2, 2>(s, st, d); }
void InvRgbxToYcck_H2V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { ColourKernel<0, 2, true, 4, 2, 1>(s, st, d); }
void Copy4_H1V1(const uint8_t* s, ptrdiff_t st, int pb, int16_t* const d[4]) { CopyKernel<4, 1, 1>(s, st, pb, d); }
void Copy3_H1V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { CopyKernel<3, 1, 1>(s, st, 3, d); }
void Copy3_H2V2(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { CopyKernel<3, 2, 2>(s, st, 3, d); }
void Copy3_H2V1(const uint8_t* s, ptrdiff_t st, int, int16_t* const d[4]) { CopyKernel<3, 2, 1>(s, st, 3, d); }
void CopyGrey(const uint8_t* s, ptrdiff_t st, int pb, int16_t* const d[4]) { CopyKernel<1, 1, 1>(s, st, pb, d); }

void CopyPacked422_H2V1(const uint8_t* src, ptrdiff_t stride, int, int16_t* const dst[4]) {
  // Each four bytes Y0 Cb Y1 Cr carry two pixels; chroma is taken as it stands.
  for (int y = 0; y < 8; ++y) {
    const uint8_t* row = src + y * stride;
    for (int pair = 0; pair < 8; ++pair) {
      const uint8_t* p = row + pair * 4;
      dst[0][LumaOffset<2>(2 * pair, y)] = static_cast<int16_t>(p[0] - 128);
      dst[0][LumaOffset<2>(2 * pair + 1, y)] = static_cast<int16_t>(p[2] - 128);
      dst[1][y * 8 + pair] = static_cast<int16_t>(p[1] - 128);
      dst[2][y * 8 + pair] = static_cast<int16_t>(p[3] - 128);
    }
  }
}

}  // namespace jpeg_input
