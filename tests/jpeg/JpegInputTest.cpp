#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "JpegTestSupport.h"
#include "JpegWorkState.h"
#include "encoder/JpegEncoderKernels.h"
#include "encoder/JpegInputConvert.h"

using jpegtest::Encoder;

namespace {

// Sets up a write (which leaves the input routine in place) and converts one MCU.
std::vector<int16_t> ConvertMcu(Encoder& e, int column, int row) {
  EXPECT_EQ(e.WriteMemory(), 0);
  JpegWorkState* work = e.props.props.work;
  work->input(work, column, row);
  return std::vector<int16_t>(work->mcu, work->mcu + kJpegMaxBlocksInMcu * 64);
}

std::vector<uint8_t> Solid(int width, int height, int channels, std::initializer_list<int> pixel) {
  std::vector<uint8_t> data;
  for (int i = 0; i < width * height; ++i)
    for (int c = 0; c < channels; ++c) data.push_back(static_cast<uint8_t>(pixel.begin()[c]));
  return data;
}

}  // namespace

TEST(JpegInput, WhiteAndBlackPixels) {
  for (int channels : {3, 4}) {
    for (int value : {255, 0}) {
      Encoder e;
      e.SetPixels(Solid(16, 16, channels, {value, value, value, 0}), 16, 16, channels, COLOR_RGB);
      const auto mcu = ConvertMcu(e, 0, 0);
      const int luma = value == 255 ? 127 : -128;
      for (int i = 0; i < 256; ++i) ASSERT_EQ(mcu[i], luma) << channels << " channels";
      for (int i = 256; i < 384; ++i) ASSERT_EQ(mcu[i], 0) << channels << " channels";
    }
  }
}

TEST(JpegInput, EdgeMcuRepeatsTheLastPixel) {
  // 17x17, 2x2 luma: the bottom-right MCU holds one valid pixel.
  for (int channels : {3, 4}) {
    std::vector<uint8_t> data = jpegtest::MakeRgb(17, 17, 5);
    if (channels == 4) {
      std::vector<uint8_t> rgbx;
      for (size_t i = 0; i < data.size(); i += 3) rgbx.insert(rgbx.end(), {data[i], data[i + 1], data[i + 2], 9});
      data = rgbx;
    }
    const uint8_t* last = &data[(17 * 17 - 1) * channels];
    const int r = last[0], g = last[1], b = last[2];
    Encoder e;
    e.SetPixels(data, 17, 17, channels, COLOR_RGB);
    const auto mcu = ConvertMcu(e, 1, 1);
    const int y = (77 * r + 150 * g + 29 * b - 32640) >> 8;
    const int cb = (-43 * r - 85 * g + 128 * b + 128) >> 8;
    const int cr = (128 * r - 107 * g - 21 * b + 128) >> 8;
    for (int i = 0; i < 256; ++i) ASSERT_EQ(mcu[i], y) << i;
    for (int i = 256; i < 320; ++i) ASSERT_EQ(mcu[i], cb) << i;
    for (int i = 320; i < 384; ++i) ASSERT_EQ(mcu[i], cr) << i;
  }
}

TEST(JpegInput, FullKernelsMatchEdgeRoutineWithinOne) {
  // The same full MCU through the kernel and through the edge routine.
  struct Case {
    int channels;
    uint32_t colour;
    uint32_t jpegColour;
    uint32_t jpegChannels;
    uint32_t mode;
  };
  for (const Case& c : {Case{3, COLOR_RGB, COLOR_YCBCR, 3, 0}, Case{3, COLOR_RGB, COLOR_YCBCR, 3, 1},
                        Case{3, COLOR_RGB, COLOR_YCBCR, 3, 2}, Case{3, COLOR_BGR, COLOR_YCBCR, 3, 1},
                        Case{3, COLOR_BGR, COLOR_YCBCR, 3, 2}, Case{3, COLOR_YCBCR, COLOR_YCBCR, 3, 1},
                        Case{4, COLOR_RGBA, COLOR_YCBCRA, 4, 3}, Case{4, COLOR_RGBA, COLOR_YCBCRA, 4, 4},
                        Case{4, COLOR_RGBA, COLOR_RGBA, 4, 0}, Case{1, COLOR_GRAY, COLOR_GRAY, 1, 0}}) {
    std::vector<uint8_t> data(static_cast<size_t>(32 * 32 * c.channels));
    std::srand(3);
    for (auto& byte : data) byte = static_cast<uint8_t>(std::rand());
    Encoder e;
    e.SetPixels(data, 32, 32, c.channels, c.colour);
    e.props.jpeg_color = c.jpegColour;
    e.props.jpeg_channels = c.jpegChannels;
    e.props.jpeg_subsampling = c.mode;
    const auto viaKernel = ConvertMcu(e, 1, 0);
    JpegWorkState* work = e.props.props.work;
    ASSERT_GT(work->inputNumber, 0) << c.colour << "/" << c.mode;
    const uint8_t* source = work->imageTop + work->mcuWidth * work->pixelBytes;
    JpegInputEdge(work, source, work->mcuWidth, work->mcuHeight);
    for (int i = 0; i < kJpegMaxBlocksInMcu * 64; ++i)
      ASSERT_LE(std::abs(viaKernel[i] - work->mcu[i]), 1) << "routine " << work->inputNumber << " sample " << i;
  }
}

TEST(JpegInput, GenericRgbxMatchesRgbKernelWithinOne) {
  std::vector<uint8_t> rgb = jpegtest::MakeRgb(32, 16, 11);
  std::vector<uint8_t> rgbx;
  for (size_t i = 0; i < rgb.size(); i += 3) rgbx.insert(rgbx.end(), {rgb[i], rgb[i + 1], rgb[i + 2], 0});
  Encoder a, b;
  a.SetPixels(rgb, 32, 16, 3, COLOR_RGB);
  b.SetPixels(rgbx, 32, 16, 4, COLOR_RGB);
  const auto kernel = ConvertMcu(a, 1, 0);
  const auto generic = ConvertMcu(b, 1, 0);
  EXPECT_EQ(a.props.props.work->inputNumber, kInputRgbToYcc_H2V2);
  EXPECT_EQ(b.props.props.work->inputNumber, kInputGeneric);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(kernel[i], generic[i]) << "luma " << i;
  for (int i = 256; i < 384; ++i) ASSERT_LE(std::abs(kernel[i] - generic[i]), 1) << "chroma " << i;
}

TEST(JpegInput, BgrIntoGreyAndRgbReadsTheRightBytes) {
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(19, 11, 2);
  std::vector<uint8_t> bgr = rgb;
  for (size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
  for (uint32_t jpegColour : {COLOR_GRAY, COLOR_RGB, COLOR_YCBCR}) {
    Encoder fromRgb, fromBgr;
    fromRgb.SetPixels(rgb, 19, 11, 3, COLOR_RGB);
    fromBgr.SetPixels(bgr, 19, 11, 3, COLOR_BGR);
    for (Encoder* e : {&fromRgb, &fromBgr}) {
      e->props.jpeg_color = jpegColour;
      e->props.jpeg_channels = jpegColour == COLOR_GRAY ? 1 : 3;
      e->props.jpeg_subsampling = jpegColour == COLOR_YCBCR ? 1 : 0;
    }
    ASSERT_EQ(fromRgb.WriteMemory(), 0);
    ASSERT_EQ(fromBgr.WriteMemory(), 0);
    EXPECT_EQ(fromRgb.output, fromBgr.output) << "JPEG colour " << jpegColour;
  }
}

TEST(JpegInput, GreyIntoYcbcrHasNeutralChroma) {
  for (uint32_t mode : {0u, 1u, 2u}) {
    std::vector<uint8_t> grey(23 * 9);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 7);
    Encoder e;
    e.SetPixels(grey, 23, 9, 1, COLOR_GRAY);
    e.props.jpeg_subsampling = mode;
    const auto mcu = ConvertMcu(e, 0, 0);
    const JpegWorkState* work = e.props.props.work;
    const int lumaBlocks = work->components[0].h * work->components[0].v;
    EXPECT_EQ(mcu[0], grey[0] - 128);
    for (int i = lumaBlocks * 64; i < (lumaBlocks + 2) * 64; ++i) ASSERT_EQ(mcu[i], 0) << "mode " << mode;
    std::vector<uint8_t> decoded;
    ASSERT_EQ(jpegtest::Djpeg(e.output, &decoded), 0);
  }
}

TEST(JpegInput, UnmatchedCombinationIsRefused) {
  // Three components of undefined colour from five bytes per pixel have no routine.
  Encoder e;
  e.SetPixels(std::vector<uint8_t>(8 * 8 * 5, 1), 8, 8, 5, COLOR_OTHER);
  e.props.jpeg_color = COLOR_OTHER;
  e.props.jpeg_subsampling = 0;
  EXPECT_EQ(e.WriteMemory(), -12);
  e.props.jpeg_channels = 2;
  EXPECT_EQ(e.WriteMemory(), 0);
}
