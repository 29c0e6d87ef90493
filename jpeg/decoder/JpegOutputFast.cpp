// The fast output family: one routine per common combination of sampling,
// JPEG colour and pixel layout, doing upsampling by replication, colour
// conversion and packing in one pass. A whole MCU goes to its kernel (an entry
// of the routine table); an MCU cut by the picture's edge or the region of
// interest goes to the same conversion over the clipped rectangle only.
#include "JpegWorkState.h"
#include "decoder/JpegDecoder.h"

namespace {

enum Layout { kRgb, kBgr, kRgba, kInvertedRgba, kCopy3, kRgbToRgba, kCopy4, kGrey, kYcbycr };

inline uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

constexpr int BytesPerPixel(Layout layout) {
  return layout == kGrey ? 1 : layout == kYcbycr ? 2 : (layout == kRgb || layout == kBgr || layout == kCopy3) ? 3 : 4;
}

// The fourth component's sample of a luma position, where the layout has one.
template <Layout L>
inline int FourthSample(const int16_t* const s[4], int luma) {
  if constexpr (L == kInvertedRgba)
    return s[3][luma];
  else
    return 255;
}

// Stores one converted pixel in the layout's byte order.
template <Layout L>
inline void StoreColour(uint8_t* p, uint8_t r, uint8_t g, uint8_t b, int alpha) {
  if constexpr (L == kBgr) {
    p[0] = b;
    p[1] = g;
    p[2] = r;
  } else if constexpr (L == kInvertedRgba) {
    p[0] = static_cast<uint8_t>(255 - r);
    p[1] = static_cast<uint8_t>(255 - g);
    p[2] = static_cast<uint8_t>(255 - b);
    p[3] = static_cast<uint8_t>(alpha);
  } else {
    p[0] = r;
    p[1] = g;
    p[2] = b;
    if constexpr (L == kRgba) p[3] = 255;
  }
}

// Converts the pixels of rectangle [left, right) x [top, bottom) of an MCU
// whose luma is H x V blocks; out addresses pixel (left, top).
template <Layout L, int H, int V>
void ConvertRect(const int16_t* const s[4], uint8_t* out, ptrdiff_t stride, int left, int top, int right,
                 int bottom) {
  constexpr int kBytes = BytesPerPixel(L);
  for (int y = top; y < bottom; ++y) {
    uint8_t* p = out + (y - top) * stride;
    const int lumaRow = (y >> 3) * H * 64 + (y & 7) * 8;
    const int chromaRow = (y / V) * 8;
    for (int x = left; x < right; ++x, p += kBytes) {
      const int luma = lumaRow + (x >> 3) * 64 + (x & 7);
      const int chroma = chromaRow + x / H;
      const int yv = s[0][luma];
      if constexpr (L == kGrey) {
        p[0] = Clamp(yv);
      } else if constexpr (L == kYcbycr) {
        p[0] = static_cast<uint8_t>(yv);
        p[1] = static_cast<uint8_t>((x & 1) == 0 ? s[1][chroma] : s[2][chroma]);
      } else if constexpr (L == kCopy3 || L == kRgbToRgba || L == kCopy4) {
        p[0] = static_cast<uint8_t>(yv);
        p[1] = static_cast<uint8_t>(s[1][chroma]);
        p[2] = static_cast<uint8_t>(s[2][chroma]);
        if constexpr (L == kRgbToRgba) p[3] = 255;
        if constexpr (L == kCopy4) p[3] = static_cast<uint8_t>(s[3][luma]);
      } else {
        const int cb = s[1][chroma], cr = s[2][chroma];
        const int red = (359 * cr - 45813) >> 8;
        const int green = (88 * cb + 183 * cr - 34806) >> 8;
        const int blue = (454 * cb - 57937) >> 8;
        StoreColour<L>(p, Clamp(yv + red), Clamp(yv - green), Clamp(yv + blue), FourthSample<L>(s, luma));
      }
    }
  }
}

// Whole-MCU kernel: the colour terms are computed once per chroma sample and
// serve the H x V luma samples that share it.
template <Layout L, int H, int V>
void Kernel(const int16_t* const s[4], uint8_t* out, ptrdiff_t stride) {
  constexpr bool kColour = L == kRgb || L == kBgr || L == kRgba || L == kInvertedRgba;
  if constexpr (!kColour) {
    ConvertRect<L, H, V>(s, out, stride, 0, 0, 8 * H, 8 * V);
  } else {
    constexpr int kBytes = BytesPerPixel(L);
    int16_t red[64], green[64], blue[64];
    for (int i = 0; i < 64; ++i) {
      const int cb = s[1][i], cr = s[2][i];
      red[i] = static_cast<int16_t>((359 * cr - 45813) >> 8);
      green[i] = static_cast<int16_t>((88 * cb + 183 * cr - 34806) >> 8);
      blue[i] = static_cast<int16_t>((454 * cb - 57937) >> 8);
    }
    for (int y = 0; y < 8 * V; ++y) {
      const int blockRow = (y >> 3) * H * 64 + (y & 7) * 8;
      const int chromaRow = (y / V) * 8;
      uint8_t* p = out + y * stride;
      for (int bx = 0; bx < H; ++bx) {
        const int16_t* luma = s[0] + blockRow + bx * 64;
        for (int x = 0; x < 8; ++x, p += kBytes) {
          const int c = chromaRow + (bx * 8 + x) / H;
          const int yv = luma[x];
          StoreColour<L>(p, Clamp(yv + red[c]), Clamp(yv - green[c]), Clamp(yv + blue[c]),
                         FourthSample<L>(s, blockRow + bx * 64 + x));
        }
      }
    }
  }
}

// Places the MCU, clips it to the written part of the picture and hands it to
// the kernel whole or to the rectangle conversion in part.
template <Layout L, int H, int V, int Entry>
void OutputMcu(JPEG_PROPERTIES* props, int mcuColumn, int mcuRow) {
  JpegDecodeState* state = props->work->decode.get();
  const JpegOutputTarget& t = state->target;
  constexpr int kWidth = 8 * H, kHeight = 8 * V, kBytes = BytesPerPixel(L);
  const int x0 = mcuColumn * kWidth, y0 = mcuRow * kHeight;
  const int left = std::max(x0, t.write.left), right = std::min(x0 + kWidth, t.write.right);
  const int top = std::max(y0, t.write.top), bottom = std::min(y0 + kHeight, t.write.bottom);
  if (left >= right || top >= bottom) return;
  uint8_t* out = t.base + static_cast<ptrdiff_t>(top - t.region.top) * t.stride +
                 static_cast<ptrdiff_t>(left - t.region.left) * kBytes;
  const int16_t* const* samples = state->componentBlocks;
  if (right - left == kWidth && bottom - top == kHeight) {
    props->runtime->routines.outputKernels[Entry].kernel(samples, out, t.stride);
    return;
  }
  ConvertRect<L, H, V>(samples, out, t.stride, left - x0, top - y0, right - x0, bottom - y0);
}

struct FastRoutine {
  int code;
  int entry;
  JpegOutputRoutine routine;
  JpegOutputKernel kernel;
};

}  // namespace

// The members of the family, named after source and target layout.
void JpegOutGrey(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kGrey, 1, 1, 1>(p, c, r); }
void JpegOutYcc111ToRgb(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgb, 1, 1, 2>(p, c, r); }
void JpegOutYccH2V1ToRgb(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgb, 2, 1, 3>(p, c, r); }
void JpegOutYccH2V2ToRgb(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgb, 2, 2, 4>(p, c, r); }
void JpegOutYcc111ToBgr(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kBgr, 1, 1, 5>(p, c, r); }
void JpegOutYccH2V1ToBgr(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kBgr, 2, 1, 6>(p, c, r); }
void JpegOutYccH2V2ToBgr(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kBgr, 2, 2, 7>(p, c, r); }
void JpegOutYcc111ToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgba, 1, 1, 8>(p, c, r); }
void JpegOutYccH2V1ToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgba, 2, 1, 9>(p, c, r); }
void JpegOutYccH2V2ToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgba, 2, 2, 10>(p, c, r); }
void JpegOutCopy111(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kCopy3, 1, 1, 11>(p, c, r); }
void JpegOutCopyH2V1(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kCopy3, 2, 1, 12>(p, c, r); }
void JpegOutCopyH2V2(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kCopy3, 2, 2, 13>(p, c, r); }
void JpegOutRgbToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kRgbToRgba, 1, 1, 14>(p, c, r); }
void JpegOutYccH2V1ToYcbycr(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kYcbycr, 2, 1, 15>(p, c, r); }
void JpegOutYcca1111ToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kInvertedRgba, 1, 1, 16>(p, c, r); }
void JpegOutYccaH2V1ToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kInvertedRgba, 2, 1, 17>(p, c, r); }
void JpegOutYccaH2V2ToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kInvertedRgba, 2, 2, 18>(p, c, r); }
void JpegOutRgbaToRgba(JPEG_PROPERTIES* p, int c, int r) { OutputMcu<kCopy4, 1, 1, 19>(p, c, r); }

namespace {

const FastRoutine kFastRoutines[] = {
    {0, 1, JpegOutGrey, Kernel<kGrey, 1, 1>},
    {1, 2, JpegOutYcc111ToRgb, Kernel<kRgb, 1, 1>},
    {5, 3, JpegOutYccH2V1ToRgb, Kernel<kRgb, 2, 1>},
    {3, 4, JpegOutYccH2V2ToRgb, Kernel<kRgb, 2, 2>},
    {2, 5, JpegOutYcc111ToBgr, Kernel<kBgr, 1, 1>},
    {6, 6, JpegOutYccH2V1ToBgr, Kernel<kBgr, 2, 1>},
    {4, 7, JpegOutYccH2V2ToBgr, Kernel<kBgr, 2, 2>},
    {7, 8, JpegOutYcc111ToRgba, Kernel<kRgba, 1, 1>},
    {9, 9, JpegOutYccH2V1ToRgba, Kernel<kRgba, 2, 1>},
    {8, 10, JpegOutYccH2V2ToRgba, Kernel<kRgba, 2, 2>},
    {15, 11, JpegOutCopy111, Kernel<kCopy3, 1, 1>},
    {17, 12, JpegOutCopyH2V1, Kernel<kCopy3, 2, 1>},
    {16, 13, JpegOutCopyH2V2, Kernel<kCopy3, 2, 2>},
    {13, 14, JpegOutRgbToRgba, Kernel<kRgbToRgba, 1, 1>},
    {19, 15, JpegOutYccH2V1ToYcbycr, Kernel<kYcbycr, 2, 1>},
    {10, 16, JpegOutYcca1111ToRgba, Kernel<kInvertedRgba, 1, 1>},
    {12, 17, JpegOutYccaH2V1ToRgba, Kernel<kInvertedRgba, 2, 1>},
    {11, 18, JpegOutYccaH2V2ToRgba, Kernel<kInvertedRgba, 2, 2>},
    {14, 19, JpegOutRgbaToRgba, Kernel<kCopy4, 1, 1>},
};

}  // namespace

void JpegFillOutputKernels(JpegRoutineTable* table) {
  table->outputKernels[0].routine = nullptr;
  for (const FastRoutine& fast : kFastRoutines) table->outputKernels[fast.entry].kernel = fast.kernel;
}

JpegOutputRoutine JpegFastOutputRoutine(int code) {
  // Code 0 with one component is the grey routine; the caller tells them apart.
  for (const FastRoutine& fast : kFastRoutines)
    if (fast.code == code) return fast.routine;
  return nullptr;
}
