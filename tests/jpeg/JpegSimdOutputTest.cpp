// The whole-MCU output twins against a model of their arithmetic and against
// the plain kernels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/JpegDecoder.h"
#include "dispatch/JpegRuntime.h"
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
namespace {

enum Layout { kGrey, kRgb, kBgr, kRgba, kInverted, kYcbycr };

struct Entry {
  int entry;
  Layout layout;
  int h, v;
};
constexpr Entry kEntries[] = {{1, kGrey, 1, 1},     {2, kRgb, 1, 1},      {3, kRgb, 2, 1},      {4, kRgb, 2, 2},
                              {5, kBgr, 1, 1},      {6, kBgr, 2, 1},      {7, kBgr, 2, 2},      {8, kRgba, 1, 1},
                              {9, kRgba, 2, 1},     {10, kRgba, 2, 2},    {15, kYcbycr, 2, 1},  {16, kInverted, 1, 1},
                              {17, kInverted, 2, 1}, {18, kInverted, 2, 2}};

int BytesPerPixel(Layout l) { return l == kGrey ? 1 : l == kYcbycr ? 2 : l == kRgb || l == kBgr ? 3 : 4; }
uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// The twins' pixel: offsets after the high multiply, green exact.
void ModelPixel(Layout l, int y, int cb, int cr, int fourth, uint8_t* p) {
  const int red = ((cr * 16 * 5744) >> 16) - 179;
  const int blue = ((cb * 16 * 7264) >> 16) - 227;
  const int green = (183 * cr + 88 * cb - 34806) >> 8;
  const uint8_t r = Clamp(y + red), g = Clamp(y - green), b = Clamp(y + blue);
  switch (l) {
    case kBgr: p[0] = b, p[1] = g, p[2] = r; break;
    case kInverted: p[0] = 255 - r, p[1] = 255 - g, p[2] = 255 - b, p[3] = static_cast<uint8_t>(fourth); break;
    default:
      p[0] = r, p[1] = g, p[2] = b;
      if (l == kRgba) p[3] = 255;
  }
}

// The MCU sample buffer: luma blocks, Cb, Cr, fourth blocks, contiguous.
struct Mcu {
  std::vector<int16_t> samples;
  const int16_t* pointers[4];
  Mcu(const Entry& e, std::mt19937& rng) : samples(64 * (2 * e.h * e.v + 2)) {
    for (auto& s : samples) s = static_cast<int16_t>(rng() % 256);
    const int luma = e.h * e.v * 64;
    pointers[0] = samples.data();
    pointers[1] = samples.data() + luma;
    pointers[2] = samples.data() + luma + 64;
    pointers[3] = samples.data() + luma + 128;
    // The fourth component's low byte is the alpha, whatever its range.
    for (int i = 0; i < luma; ++i) samples[luma + 128 + i] = static_cast<int16_t>(static_cast<int>(rng() % 1024) - 512);
  }
};

std::vector<uint8_t> Model(const Entry& e, const Mcu& m, ptrdiff_t stride) {
  std::vector<uint8_t> out(stride * 8 * e.v, 0xA5);
  const int bytes = BytesPerPixel(e.layout);
  for (int y = 0; y < 8 * e.v; ++y)
    for (int x = 0; x < 8 * e.h; ++x) {
      const int luma = ((y >> 3) * e.h + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7);
      const int chroma = (y / e.v) * 8 + x / e.h;
      uint8_t* p = &out[y * stride + x * bytes];
      const int yv = m.pointers[0][luma];
      if (e.layout == kGrey) {
        p[0] = Clamp(yv);
      } else if (e.layout == kYcbycr) {
        p[0] = Clamp(yv);
        p[1] = Clamp((x & 1) == 0 ? m.pointers[1][chroma] : m.pointers[2][chroma]);
      } else {
        ModelPixel(e.layout, yv, m.pointers[1][chroma], m.pointers[2][chroma], m.pointers[3][luma], p);
      }
    }
  return out;
}

TEST(JpegSimdOutput, TwinsFollowTheirModelAndStayWithinOneOfThePlainKernels) {
  JpegRoutineTable plain{}, simd{};
  JpegFillRoutineTable(&plain, 0);
  JpegFillRoutineTable(&simd, 6);
  std::mt19937 rng(15);
  for (const Entry& e : kEntries) {
    ASSERT_NE(simd.outputKernels[e.entry].kernel, plain.outputKernels[e.entry].kernel) << e.entry;
    const ptrdiff_t stride = 8 * e.h * BytesPerPixel(e.layout) + 5;  // bytes past the MCU show
    for (int n = 0; n < 300; ++n) {
      const Mcu m(e, rng);
      std::vector<uint8_t> twin(stride * 8 * e.v, 0xA5), reference(twin);
      simd.outputKernels[e.entry].kernel(m.pointers, twin.data(), stride);
      plain.outputKernels[e.entry].kernel(m.pointers, reference.data(), stride);
      ASSERT_EQ(twin, Model(e, m, stride)) << "entry " << e.entry << " mcu " << n;
      for (size_t i = 0; i < twin.size(); ++i) {
        const int diff = std::abs(twin[i] - reference[i]);
        ASSERT_LE(diff, 1) << "entry " << e.entry << " byte " << i;
        if (e.layout == kGrey || e.layout == kYcbycr) {
          ASSERT_EQ(diff, 0) << "entry " << e.entry;
        }
      }
    }
  }
}

TEST(JpegSimdOutput, KnownPixels) {
  JpegRoutineTable simd{};
  JpegFillRoutineTable(&simd, 6);
  struct Case {
    int y, cb, cr, fourth;
    uint8_t rgba[4];
  };
  for (const Case& c : {Case{100, 1, 67, 0, {14, 188, 0, 255}}, Case{100, 200, 200, 0, {201, 25, 227, 255}},
                        Case{128, 128, 128, 0, {128, 129, 128, 255}}}) {
    std::vector<int16_t> samples(64 * 4);
    std::fill(samples.begin(), samples.begin() + 64, static_cast<int16_t>(c.y));
    std::fill(samples.begin() + 64, samples.begin() + 128, static_cast<int16_t>(c.cb));
    std::fill(samples.begin() + 128, samples.begin() + 192, static_cast<int16_t>(c.cr));
    const int16_t* p[4] = {samples.data(), samples.data() + 64, samples.data() + 128, samples.data() + 192};
    uint8_t rgb[8 * 24], rgba[8 * 32];
    simd.outputKernels[2].kernel(p, rgb, 24);
    simd.outputKernels[8].kernel(p, rgba, 32);
    EXPECT_EQ(0, std::memcmp(rgb + 21, c.rgba, 3)) << c.y << " " << c.cb << " " << c.cr;
    EXPECT_EQ(0, std::memcmp(rgba + 28, c.rgba, 4)) << c.y << " " << c.cb << " " << c.cr;
  }
  // Alpha of the four-component output is the fourth sample's low byte.
  std::vector<int16_t> samples(64 * 4, 128);
  samples[192] = 300;
  samples[193] = -5;
  const int16_t* p[4] = {samples.data(), samples.data() + 64, samples.data() + 128, samples.data() + 192};
  uint8_t out[8 * 32];
  simd.outputKernels[16].kernel(p, out, 32);
  EXPECT_EQ(out[3], 44);
  EXPECT_EQ(out[7], 251);
  EXPECT_EQ(out[0], 127);  // 255 - 128
}

}  // namespace
#endif
