// The decoder's pixel layouts, regions, interrupts, file and abbreviated reads.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "JpegTestSupport.h"
#include "common/JpegTables.h"

using jpegtest::DecodeImage;
using jpegtest::Decoder;

namespace {

constexpr int kWidth = 70, kHeight = 45;

std::vector<uint8_t> Stream(const std::string& options) {
  static const std::vector<uint8_t> rgb = jpegtest::MakeRgb(kWidth, kHeight, 33);
  return jpegtest::Cjpeg(rgb, kWidth, kHeight, options);
}

std::vector<uint8_t> Crop(const std::vector<uint8_t>& picture, int width, int channels, JpegRect r) {
  std::vector<uint8_t> crop;
  for (int y = r.top; y < r.bottom; ++y) {
    const uint8_t* row = &picture[(static_cast<size_t>(y) * width + r.left) * channels];
    crop.insert(crop.end(), row, row + static_cast<size_t>(r.right - r.left) * channels);
  }
  return crop;
}

}  // namespace

TEST(JpegDecoder, BufferLayoutsAgreeWithTheRgbPicture) {
  for (const char* options : {"-sample 2x2", "-sample 2x1", "-sample 1x1", "-sample 1x2", "-progressive"}) {
    const std::vector<uint8_t> stream = Stream(options);
    std::vector<uint8_t> rgb, bgr, rgba;
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &rgb), 0);
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_BGR, &bgr), 0);
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 4, COLOR_RGBA, &rgba), 0);
    for (size_t i = 0; i < rgb.size() / 3; ++i) {
      ASSERT_EQ(bgr[i * 3], rgb[i * 3 + 2]) << options;
      ASSERT_EQ(bgr[i * 3 + 1], rgb[i * 3 + 1]);
      ASSERT_EQ(bgr[i * 3 + 2], rgb[i * 3]);
      ASSERT_EQ(0, std::memcmp(&rgba[i * 4], &rgb[i * 3], 3)) << options;
      ASSERT_EQ(rgba[i * 4 + 3], 255);
    }

    // Bottom-up with pad bytes: the same picture, the pad bytes untouched.
    Decoder d;
    d.SetBuffer(kWidth, -kHeight, 3, COLOR_RGB, 5);
    d.SetStream(stream, COLOR_YCBCR, 3);
    ASSERT_EQ(d.Read(), 0);
    EXPECT_EQ(d.Picture(), rgb) << options;
    for (int y = 0; y < kHeight; ++y)
      for (int k = 0; k < 5; ++k) ASSERT_EQ(d.pixels[static_cast<size_t>(y) * (kWidth * 3 + 5) + kWidth * 3 + k], 0xA5);

    // Grey output keeps the luma.
    std::vector<uint8_t> grey;
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 1, COLOR_GRAY, &grey), 0);
    EXPECT_EQ(grey.size(), static_cast<size_t>(kWidth) * kHeight);
  }
}

TEST(JpegDecoder, YcbcrBuffersTakeOnlySamplingsTheyCanHold) {
  // Packed pairs from 4:2:2: Y0 Cb Y1 Cr.
  const std::vector<uint8_t> s422 = Stream("-sample 2x1"), s444 = Stream("-sample 1x1"), s420 = Stream("-sample 2x2");
  std::vector<uint8_t> packed, full;
  ASSERT_EQ(DecodeImage(s422, COLOR_YCBCR, 3, kWidth, kHeight, 2, COLOR_YCBCR, &packed), 0);
  EXPECT_EQ(packed.size(), static_cast<size_t>(kWidth) * kHeight * 2);
  EXPECT_EQ(DecodeImage(s420, COLOR_YCBCR, 3, kWidth, kHeight, 2, COLOR_YCBCR, &packed), JPEG_ERR_INVALID_PROPERTIES);
  EXPECT_EQ(DecodeImage(s444, COLOR_YCBCR, 3, kWidth, kHeight, 2, COLOR_YCBCR, &packed), JPEG_ERR_INVALID_PROPERTIES);
  // Full pixels take unsubsampled chroma only.
  ASSERT_EQ(DecodeImage(s444, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_YCBCR, &full), 0);
  EXPECT_EQ(DecodeImage(s422, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_YCBCR, &full), JPEG_ERR_INVALID_PROPERTIES);
  // The luma of the packed pairs is the luma of the grey read.
  std::vector<uint8_t> grey;
  ASSERT_EQ(DecodeImage(s422, COLOR_YCBCR, 3, kWidth, kHeight, 1, COLOR_GRAY, &grey), 0);
  ASSERT_EQ(DecodeImage(s422, COLOR_YCBCR, 3, kWidth, kHeight, 2, COLOR_YCBCR, &packed), 0);
  for (size_t i = 0; i < grey.size(); ++i) ASSERT_EQ(packed[i * 2], grey[i]);
  // A colour the stream does not have is refused, not guessed.
  const std::vector<uint8_t> greyStream = jpegtest::Cjpeg(grey, kWidth, kHeight, "");
  EXPECT_EQ(DecodeImage(greyStream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &full), JPEG_ERR_INVALID_PROPERTIES);
}

TEST(JpegDecoder, RegionEqualsTheCropOfTheWholePicture) {
  const jpegtest::ForcedCpu plain(0);
  std::mt19937 random(7);
  const struct {
    int32_t type;
    int scale;
  } scales[] = {{READ_IMAGE_FROM_BUFFER, 1}, {READ_HALF_FROM_BUFFER, 2}, {READ_EIGHTH_FROM_BUFFER, 8}};
  for (const char* options : {"-sample 2x2", "-sample 1x2 -restart 1", "-progressive"}) {
    const std::vector<uint8_t> stream = Stream(options);
    for (const auto& s : scales) {
      const int width = (kWidth + s.scale - 1) / s.scale, height = (kHeight + s.scale - 1) / s.scale;
      for (bool smooth : {false, true}) {
        Decoder whole;
        whole.SetBuffer(width, height, 3, COLOR_BGR);
        whole.SetStream(stream, COLOR_YCBCR, 3);
        whole.props.props.upsampling_mode = smooth;
        ASSERT_EQ(whole.Read(s.type), 0);
        for (int trial = 0; trial < 6; ++trial) {
          JpegRect r;
          r.left = static_cast<int>(random() % width);
          r.top = static_cast<int>(random() % height);
          r.right = r.left + 1 + static_cast<int>(random() % (width - r.left));
          r.bottom = r.top + 1 + static_cast<int>(random() % (height - r.top));
          Decoder part;
          part.SetBuffer(r.right - r.left, r.bottom - r.top, 3, COLOR_BGR);
          part.SetStream(stream, COLOR_YCBCR, 3);
          part.props.props.upsampling_mode = smooth;
          part.props.props.region_of_interest = r;
          const int32_t result = part.Read(s.type);
          const bool everything = r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
          ASSERT_EQ(result, everything ? 0 : JPEG_ROI_SUCCESS) << options;
          EXPECT_EQ(part.Picture(), Crop(whole.Picture(), width, 3, r))
              << options << " scale " << s.scale << " smooth " << smooth << " region " << r.left << "," << r.top
              << "," << r.right << "," << r.bottom;
        }
      }
    }
  }
}

TEST(JpegDecoder, RegionIsClampedToTheBufferAndAnEmptyOneRefused) {
  const jpegtest::ForcedCpu plain(0);
  const std::vector<uint8_t> stream = Stream("-sample 2x2");
  std::vector<uint8_t> whole;
  ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &whole), 0);
  Decoder small;
  small.SetBuffer(10, 8, 3, COLOR_RGB, 2);
  small.SetStream(stream, COLOR_YCBCR, 3);
  small.props.props.region_of_interest = {5, 3, 60, 40};
  ASSERT_EQ(small.Read(), JPEG_ROI_SUCCESS);
  EXPECT_EQ(small.Picture(), Crop(whole, kWidth, 3, {5, 3, 15, 11}));
  for (int y = 0; y < 8; ++y) EXPECT_EQ(small.pixels[y * 32 + 30], 0xA5);

  // Bottom-up: the region's first row lands in the buffer's last row.
  Decoder flipped;
  flipped.SetBuffer(10, -8, 3, COLOR_RGB, 2);
  flipped.SetStream(stream, COLOR_YCBCR, 3);
  flipped.props.props.region_of_interest = {5, 3, 60, 40};
  ASSERT_EQ(flipped.Read(), JPEG_ROI_SUCCESS);
  EXPECT_EQ(flipped.Picture(), small.Picture());
  EXPECT_EQ(0, std::memcmp(&flipped.pixels[7 * 32], &whole[(3 * kWidth + 5) * 3], 30));

  small.props.props.region_of_interest = {80, 3, 90, 40};
  EXPECT_EQ(small.Read(), JPEG_ERR_INVALID_PROPERTIES);
}

TEST(JpegDecoder, ADecodeInterruptedAfterEveryMcuEqualsOneShot) {
  // One call per MCU of a single-scan picture (5 x 3 of 16 x 16, 9 x 3 of
  // 8 x 16); one per unit of every scan of a progressive one.
  const struct {
    const char* options;
    int calls;
  } cases[] = {{"-sample 2x2 -restart 2", 15}, {"-sample 1x2", 27}, {"-progressive -sample 2x1", 0}};
  for (const auto& c : cases) {
    const char* options = c.options;
    const std::vector<uint8_t> stream = Stream(options);
    std::vector<uint8_t> oneShot;
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &oneShot), 0);
    Decoder d;
    d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
    d.SetStream(stream, COLOR_YCBCR, 3);
    int calls = 0;
    int32_t result;
    int lastHeight = 0;
    do {
      d.props.props.interrupt_request = 1;
      result = d.Read();
      ++calls;
      if (result == JPEG_INTERRUPT_SUCCESS) {
        EXPECT_GT(d.props.props.progress_width, 0);
        EXPECT_LE(d.props.props.progress_width, kWidth);
        EXPECT_LE(d.props.props.progress_height, kHeight);
        EXPECT_EQ(d.props.props.interrupt_request, 0u);
        lastHeight = d.props.props.progress_height;
      }
    } while (result == JPEG_INTERRUPT_SUCCESS && calls < 100000);
    ASSERT_EQ(result, 0) << options;
    if (c.calls != 0)
      EXPECT_EQ(calls, c.calls) << options;
    else
      EXPECT_GT(calls, 200) << options;
    EXPECT_GT(lastHeight, 0);
    const JpegRect region = d.props.props.region_of_interest;
    EXPECT_TRUE(region.left == 0 && region.top == 0 && region.right == 0 && region.bottom == 0);
    EXPECT_EQ(d.Picture(), oneShot) << options;
  }
}

TEST(JpegDecoder, FileReadsEqualMemoryReadsAndLetTheNextReadStartAfresh) {
  for (const char* options : {"-sample 2x2", "-progressive"}) {
    const std::vector<uint8_t> stream = Stream(options);
    const std::string path = jpegtest::TempPath("decode.jpg");
    jpegtest::WriteFile(path, stream);
    std::vector<uint8_t> memory;
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &memory), 0);
    Decoder d;
    d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
    d.props.jpeg_file = path.c_str();
    ASSERT_EQ(d.Read(READ_PARAMS_FROM_FILE), 0);
    EXPECT_EQ(d.props.jpeg_width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(d.props.jpeg_height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(d.props.jpeg_channels, 3u);
    // The image read continues where the parameters read stopped.
    ASSERT_EQ(d.Read(READ_IMAGE_FROM_FILE), 0);
    EXPECT_EQ(d.Picture(), memory);
    std::fill(d.pixels.begin(), d.pixels.end(), 0);
    ASSERT_EQ(d.Read(READ_IMAGE_FROM_FILE), 0);
    EXPECT_EQ(d.Picture(), memory) << options;
    std::remove(path.c_str());
  }
}

TEST(JpegDecoder, AbbreviatedStreamsUseTablesOfAnEarlierRead) {
  jpegtest::Encoder e;
  e.SetRgb(kWidth, kHeight, 3);
  ASSERT_EQ(e.WriteMemory(WRITE_HEADER_TO_BUFFER), 0);
  const std::vector<uint8_t> tables = e.output;
  ASSERT_EQ(e.WriteMemory(WRITE_ENTROPY_TO_BUFFER), 0);
  const std::vector<uint8_t> entropy = e.output;
  ASSERT_EQ(e.WriteMemory(WRITE_IMAGE_TO_BUFFER), 0);
  std::vector<uint8_t> complete;
  ASSERT_EQ(DecodeImage(e.output, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &complete), 0);

  Decoder d;
  d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  d.SetStream(entropy, COLOR_YCBCR, 3);
  EXPECT_EQ(d.Read(READ_ENTROPY_FROM_BUFFER), JPEG_ERR_NO_QUANT) << "no tables yet";
  d.SetStream(tables, COLOR_YCBCR, 3);
  ASSERT_EQ(d.Read(READ_HEADER_FROM_BUFFER), 0);
  d.SetStream(entropy, COLOR_YCBCR, 3);
  ASSERT_EQ(d.Read(READ_ENTROPY_FROM_BUFFER), 0);
  EXPECT_EQ(d.Picture(), complete);

  // The same from one file holding both streams: the tables read leaves the
  // position for the entropy read.
  std::vector<uint8_t> both = tables;
  both.insert(both.end(), entropy.begin(), entropy.end());
  const std::string path = jpegtest::TempPath("abbreviated.jpg");
  jpegtest::WriteFile(path, both);
  Decoder f;
  f.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  f.SetStream(entropy, COLOR_YCBCR, 3);
  f.props.jpeg_file = path.c_str();
  ASSERT_EQ(f.Read(READ_HEADER_FROM_FILE), 0);
  ASSERT_EQ(f.Read(READ_ENTROPY_FROM_FILE), 0);
  EXPECT_EQ(f.Picture(), complete);
  std::remove(path.c_str());

  // Tables handed over by the caller serve as well.
  Decoder c;
  c.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  c.SetStream(entropy, COLOR_YCBCR, 3);
  // The quantisation tables as the header stream declares them (zigzag order).
  std::vector<uint8_t> quant[2];
  for (const jpegtest::Segment& segment : jpegtest::Segments(tables)) {
    if (segment.marker != 0xDB) continue;
    for (size_t at = segment.offset + 4; at + 65 <= segment.offset + segment.length; at += 65)
      quant[tables[at] & 15].assign(tables.begin() + static_cast<long>(at) + 1, tables.begin() + static_cast<long>(at) + 65);
  }
  ASSERT_EQ(quant[0].size(), 64u);
  ASSERT_EQ(quant[1].size(), 64u);
  c.props.props.quant_tables[0] = quant[0].data();
  c.props.props.quant_tables[1] = quant[1].data();
  c.props.props.quant_table_count = 2;
  EXPECT_EQ(c.Read(READ_ENTROPY_FROM_BUFFER), JPEG_ERR_NO_HUFFMAN);
  const uint8_t* bits[4] = {kJpegDcLuminanceBits, kJpegAcLuminanceBits, kJpegDcChrominanceBits, kJpegAcChrominanceBits};
  const uint8_t* values[4] = {kJpegDcLuminanceValues, kJpegAcLuminanceValues, kJpegDcChrominanceValues,
                              kJpegAcChrominanceValues};
  for (int i = 0; i < 4; ++i) {
    c.props.props.huffman_bits[i] = bits[i];
    c.props.props.huffman_values[i] = values[i];
  }
  c.props.props.huffman_table_count = 2;
  ASSERT_EQ(c.Read(READ_ENTROPY_FROM_BUFFER), 0);
  EXPECT_EQ(c.Picture(), complete);
}

TEST(JpegDecoder, RequestRecordsDeliverCoefficientsOrSamplesPerComponent) {
  // Baseline and progressive streams of one picture carry the same
  // quantised coefficients.
  std::vector<int16_t> planes[2][3];
  for (int progressive = 0; progressive < 2; ++progressive) {
    jpegtest::Encoder e;
    e.SetRgb(kWidth, kHeight, 12);
    e.props.props.progressive = progressive;
    ASSERT_EQ(e.WriteMemory(), 0);
    Decoder d;
    d.SetStream(e.output, COLOR_YCBCR, 3);
    d.props.props.read_request = 1;
    d.props.image_bytes = nullptr;
    JpegReadRequestRecord request = {0, {}};
    const int mcusPerRow = (kWidth + 15) / 16, mcuRows = (kHeight + 15) / 16;
    for (int c = 0; c < 3; ++c) {
      const int factor = c == 0 ? 2 : 1;
      planes[progressive][c].assign(static_cast<size_t>(mcusPerRow * factor * 8) * mcuRows * factor * 8, -999);
      request.planes[c] = planes[progressive][c].data();
    }
    d.props.props.read_request_record = &request;
    ASSERT_EQ(d.Read(), 0);
    EXPECT_EQ(std::count(planes[progressive][0].begin(), planes[progressive][0].end(), -999), 0);
  }
  // Blocks past the picture's edge, which fill an MCU, are not in the
  // progressive stream's single-component scans.
  for (int c = 0; c < 3; ++c) {
    const int factor = c == 0 ? 2 : 1, planeWidth = (kWidth + 15) / 16 * factor * 8;
    const int width = (kWidth * factor / 2 + 7) / 8 * 8, height = ((kHeight * factor + 1) / 2 + 7) / 8 * 8;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        ASSERT_EQ(planes[0][c][static_cast<size_t>(y) * planeWidth + x], planes[1][c][static_cast<size_t>(y) * planeWidth + x])
            << "component " << c << " at " << x << "," << y;
  }

  // Samples of a grey picture are its pixels.
  std::vector<uint8_t> grey(static_cast<size_t>(kWidth) * kHeight);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i * 7 % 253);
  const std::vector<uint8_t> stream = jpegtest::Cjpeg(grey, kWidth, kHeight, "-quality 90");
  std::vector<uint8_t> pixels;
  ASSERT_EQ(DecodeImage(stream, COLOR_GRAY, 1, kWidth, kHeight, 1, COLOR_GRAY, &pixels), 0);
  Decoder d;
  d.SetStream(stream, COLOR_GRAY, 1);
  d.props.props.read_request = 1;
  const int planeWidth = (kWidth + 7) / 8 * 8;
  std::vector<int16_t> plane(static_cast<size_t>(planeWidth) * ((kHeight + 7) / 8 * 8));
  JpegReadRequestRecord request = {1, {plane.data()}};
  d.props.props.read_request_record = &request;
  ASSERT_EQ(d.Read(), 0);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      ASSERT_EQ(plane[static_cast<size_t>(y) * planeWidth + x], pixels[static_cast<size_t>(y) * kWidth + x]);
}
