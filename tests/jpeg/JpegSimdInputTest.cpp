// The full-MCU input twins give the plain kernels' samples exactly and read
// no byte outside the MCU's pixels.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dispatch/JpegRuntime.h"
#include "encoder/JpegEncoderKernels.h"
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
namespace {

struct Input {
  int number;
  int pixelBytes;
  int width, height;  // pixels of one MCU
  int blocks;         // in the sample buffer
};
constexpr Input kInputs[] = {
    {kInputRgbToYcc_H1V1, 3, 8, 8, 3},       {kInputBgrToYcc_H1V1, 3, 8, 8, 3},
    {kInputRgbToYcc_H2V2, 3, 16, 16, 6},     {kInputBgrToYcc_H2V2, 3, 16, 16, 6},
    {kInputRgbToYcc_H2V1, 3, 16, 8, 4},      {kInputBgrToYcc_H2V1, 3, 16, 8, 4},
    {kInputInvRgbxToYcck_H1V1, 4, 8, 8, 4},  {kInputInvRgbxToYcck_H2V2, 4, 16, 16, 10},
    {kInputInvRgbxToYcck_H2V1, 4, 16, 8, 6}, {kInputCopyGrey, 1, 8, 8, 1},
    {kInputCopyPacked422_H2V1, 2, 16, 8, 4},
};

// Runs a kernel over an MCU whose last row ends the allocation, so that a
// read past the pixels shows under the address sanitizer.
std::vector<int16_t> Convert(JpegInputKernel kernel, const Input& in, const std::vector<uint8_t>& pixels, bool bottomUp) {
  const size_t row = static_cast<size_t>(in.width) * in.pixelBytes;
  std::vector<uint8_t> exact(pixels);
  const int lumaBlocks = in.number == kInputCopyGrey ? 1 : (in.width / 8) * (in.height / 8);
  std::vector<int16_t> samples(64 * in.blocks, 0x5A5A);
  int16_t* const dst[4] = {samples.data(), samples.data() + 64 * lumaBlocks, samples.data() + 64 * lumaBlocks + 64,
                           samples.data() + 64 * lumaBlocks + 128};
  if (bottomUp) {
    // Rows stored upwards: the first row of the MCU is the last in memory.
    std::vector<uint8_t> flipped(pixels.size());
    for (int y = 0; y < in.height; ++y) std::memcpy(&flipped[(in.height - 1 - y) * row], &pixels[y * row], row);
    exact = flipped;
    kernel(exact.data() + (in.height - 1) * row, -static_cast<ptrdiff_t>(row), in.pixelBytes, dst);
  } else {
    kernel(exact.data(), static_cast<ptrdiff_t>(row), in.pixelBytes, dst);
  }
  return samples;
}

TEST(JpegSimdInput, TwinsGiveThePlainKernelsSamples) {
  JpegRoutineTable plain{}, simd{};
  JpegFillRoutineTable(&plain, 0);
  JpegFillRoutineTable(&simd, 6);
  std::mt19937 rng(170);
  for (const Input& in : kInputs) {
    ASSERT_NE(simd.inputKernels[in.number], plain.inputKernels[in.number]) << in.number;
    for (int n = 0; n < 400; ++n) {
      std::vector<uint8_t> pixels(static_cast<size_t>(in.width) * in.height * in.pixelBytes);
      const int mode = n % 4;  // random, black, white, extremes
      for (auto& p : pixels) p = mode == 0 ? rng() % 256 : mode == 1 ? 0 : mode == 2 ? 255 : (rng() % 2) * 255;
      const bool bottomUp = n % 2 == 1;
      ASSERT_EQ(Convert(simd.inputKernels[in.number], in, pixels, bottomUp),
                Convert(plain.inputKernels[in.number], in, pixels, bottomUp))
          << "input " << in.number << " mcu " << n;
    }
  }
}

TEST(JpegSimdInput, WhiteAndBlackPixels) {
  JpegRoutineTable simd{};
  JpegFillRoutineTable(&simd, 6);
  for (const int value : {255, 0}) {
    std::vector<uint8_t> pixels(8 * 8 * 3, static_cast<uint8_t>(value));
    const Input in = kInputs[0];
    const std::vector<int16_t> samples = Convert(simd.inputKernels[in.number], in, pixels, false);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(samples[i], value == 255 ? 127 : -128);
      ASSERT_EQ(samples[64 + i], 0);
      ASSERT_EQ(samples[128 + i], 0);
    }
  }
  // Inverted four-channel zeros: white, fourth channel 0.
  std::vector<uint8_t> zeros(8 * 8 * 4, 0);
  const std::vector<int16_t> samples = Convert(simd.inputKernels[kInputInvRgbxToYcck_H1V1], kInputs[6], zeros, false);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(samples[i], 127);
    ASSERT_EQ(samples[64 + i] | samples[128 + i], 0);
    ASSERT_EQ(samples[192 + i], -128);
  }
}

}  // namespace
#endif
