#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "JpegTestSupport.h"
#include "JpegWorkState.h"
#include "common/JpegTables.h"

using jpegtest::Encoder;
using jpegtest::MarkerSequence;

namespace {

void Append(std::vector<uint8_t>* out, std::initializer_list<int> bytes) {
  for (int b : bytes) out->push_back(static_cast<uint8_t>(b));
}

void AppendTable(std::vector<uint8_t>* out, int classAndNumber, const uint8_t* bits, const uint8_t* values) {
  out->push_back(static_cast<uint8_t>(classAndNumber));
  int count = 0;
  for (int i = 0; i < 16; ++i) {
    out->push_back(bits[i]);
    count += bits[i];
  }
  out->insert(out->end(), values, values + count);
}

// The snapshot: a 32-bit bottom-up RGB buffer written as a JFIF file.
int32_t WriteSnapshot(const std::string& path, int width, int height, std::vector<uint8_t>* pixels) {
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(width, height, 21);
  pixels->assign(static_cast<size_t>(width) * height * 4, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        (*pixels)[(static_cast<size_t>(height - 1 - y) * width + x) * 4 + c] = rgb[(static_cast<size_t>(y) * width + x) * 3 + c];
  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  if (JpegInit(&props) != 0) {
    JpegFree(&props);
    return -1;
  }
  props.image_bytes = pixels->data();
  props.image_width = static_cast<uint32_t>(width);
  props.image_height = -height;
  props.image_pad_bytes = 0;
  props.image_channels = 4;
  props.image_color = COLOR_RGB;
  props.jpeg_file = path.c_str();
  props.jpeg_width = static_cast<uint32_t>(width);
  props.jpeg_height = static_cast<uint32_t>(height);
  props.jpeg_channels = 3;
  props.jpeg_color = COLOR_YCBCR;
  props.jpeg_subsampling = SUBSAMPLING_420;
  props.quality = 100;
  const int32_t result = JpegWrite(&props, WRITE_IMAGE_TO_FILE);
  const int32_t freed = JpegFree(&props);
  return result != 0 ? result : freed;
}

}  // namespace

TEST(JpegStream, SnapshotHeadersByteForByte) {
  const std::string path = jpegtest::TempPath("snapshot.jpg");
  std::vector<uint8_t> pixels;
  ASSERT_EQ(WriteSnapshot(path, 100, 60, &pixels), 0);
  const std::vector<uint8_t> file = jpegtest::ReadFile(path);

  std::vector<uint8_t> expected;
  Append(&expected, {0xFF, 0xD8});
  Append(&expected, {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  const std::string comment = "Vyrdax JPEG Codec, version [1.0.3.7]";
  Append(&expected, {0xFF, 0xFE, 0, static_cast<int>(comment.size() + 3)});
  expected.insert(expected.end(), comment.begin(), comment.end());
  expected.push_back(0);
  for (int table = 0; table < 2; ++table) {
    Append(&expected, {0xFF, 0xDB, 0, 67, table});
    expected.insert(expected.end(), 64, 1);
  }
  Append(&expected, {0xFF, 0xC4, 418 >> 8, 418 & 0xFF});
  AppendTable(&expected, 0x00, kJpegDcLuminanceBits, kJpegDcLuminanceValues);
  AppendTable(&expected, 0x10, kJpegAcLuminanceBits, kJpegAcLuminanceValues);
  AppendTable(&expected, 0x01, kJpegDcChrominanceBits, kJpegDcChrominanceValues);
  AppendTable(&expected, 0x11, kJpegAcChrominanceBits, kJpegAcChrominanceValues);
  Append(&expected, {0xFF, 0xC0, 0, 17, 8, 0, 60, 0, 100, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
  Append(&expected, {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});

  ASSERT_GT(file.size(), expected.size() + 2);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin())) << "headers differ";
  EXPECT_EQ(file[file.size() - 2], 0xFF);
  EXPECT_EQ(file.back(), 0xD9);
  const std::vector<uint8_t> markers = MarkerSequence(file);
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xD9), 1);

  // Upright and faithful: djpeg's decode matches the picture.
  std::vector<uint8_t> decoded;
  ASSERT_EQ(jpegtest::Djpeg(file, &decoded), 0);
  const std::vector<uint8_t> upright = jpegtest::MakeRgb(100, 60, 21);
  std::vector<uint8_t> flipped(upright.size());
  for (int y = 0; y < 60; ++y)
    std::copy(upright.begin() + (59 - y) * 300, upright.begin() + (60 - y) * 300, flipped.begin() + y * 300);
  const double psnr = jpegtest::Psnr(decoded, upright);
  EXPECT_GT(psnr, 22.0);
  EXPECT_GT(psnr, jpegtest::Psnr(decoded, flipped) + 6.0) << "the file is upright";
  unlink(path.c_str());
}

TEST(JpegStream, GreyFrameUsesIdentifierZero) {
  Encoder e;
  std::vector<uint8_t> grey(40 * 30);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<uint8_t>(i % 251);
  e.SetPixels(grey, 40, 30, 1, COLOR_GRAY);
  e.props.jpeg_channels = 1;
  e.props.jpeg_color = COLOR_GRAY;
  e.props.jpeg_subsampling = 0;
  ASSERT_EQ(e.WriteMemory(), 0);
  for (const jpegtest::Segment& s : jpegtest::Segments(e.output)) {
    const uint8_t* p = &e.output[s.offset];
    if (s.marker == 0xC0) {
      EXPECT_EQ(std::vector<uint8_t>(p + 9, p + 13), (std::vector<uint8_t>{1, 0, 0x11, 0}));
    }
    if (s.marker == 0xDA) {
      EXPECT_EQ(std::vector<uint8_t>(p + 4, p + 7), (std::vector<uint8_t>{1, 0, 0x00}));
    }
    if (s.marker == 0xE0) {
      EXPECT_EQ(p[4], 'J');
    }
  }
  std::vector<uint8_t> decoded;
  ASSERT_EQ(jpegtest::Djpeg(e.output, &decoded), 0);
  EXPECT_GT(jpegtest::Psnr(decoded, grey), 30.0);
}

TEST(JpegStream, RgbAndFourComponentFramesCarryAdobeSegment) {
  struct Case {
    int channels;
    uint32_t colour, jpegColour, jpegChannels, mode;
    int transform;
  };
  for (const Case& c : {Case{3, COLOR_RGB, COLOR_RGB, 3, 0, 0}, Case{4, COLOR_RGBA, COLOR_RGBA, 4, 0, 0},
                        Case{4, COLOR_RGBA, COLOR_YCBCRA, 4, 0, 2}, Case{4, COLOR_RGBA, COLOR_YCBCRA, 4, 3, 2},
                        Case{4, COLOR_RGBA, COLOR_YCBCRA, 4, 4, 2}, Case{4, COLOR_RGBA, COLOR_RGBA, 4, 3, 0}}) {
    std::vector<uint8_t> data(static_cast<size_t>(37 * 21 * c.channels));
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 13) ^ (i >> 5));
    Encoder e;
    e.SetPixels(data, 37, 21, c.channels, c.colour);
    e.props.jpeg_color = c.jpegColour;
    e.props.jpeg_channels = c.jpegChannels;
    e.props.jpeg_subsampling = c.mode;
    ASSERT_EQ(e.WriteMemory(), 0) << c.jpegColour << "/" << c.mode;
    const auto markers = MarkerSequence(e.output);
    ASSERT_GE(markers.size(), 2u);
    EXPECT_EQ(markers[1], 0xEE);
    EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xE0), 0);
    const std::vector<uint8_t> adobe(e.output.begin() + 2, e.output.begin() + 18);
    EXPECT_EQ(adobe, (std::vector<uint8_t>{0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0,
                                           static_cast<uint8_t>(c.transform)}));
    EXPECT_EQ(jpegtest::Djpeg(e.output), 0) << c.jpegColour << "/" << c.mode;
  }
}

TEST(JpegStream, CallerComment) {
  std::vector<uint8_t> comment(65535, 'c');
  Encoder e;
  e.SetRgb(8, 8);
  e.props.props.jpeg_comment = comment.data();
  e.props.props.comment_size = 65535;
  ASSERT_EQ(e.WriteMemory(), 0);
  EXPECT_EQ(e.props.props.comment_size, 65531);
  bool found = false;
  for (const jpegtest::Segment& s : jpegtest::Segments(e.output))
    if (s.marker == 0xFE) {
      found = true;
      EXPECT_EQ(s.length, 65531u + 4);
      EXPECT_EQ(e.output[s.offset + 2], 0xFF);
      EXPECT_EQ(e.output[s.offset + 3], 0xFD);
    }
  EXPECT_TRUE(found);
  EXPECT_EQ(jpegtest::Djpeg(e.output), 0);

  e.props.props.comment_size = 0;
  ASSERT_EQ(e.WriteMemory(), 0);
  const auto markers = MarkerSequence(e.output);
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xFE), 0);
}

TEST(JpegStream, HeaderOnlyAndAbbreviatedStreamsSplice) {
  Encoder e;
  e.SetRgb(61, 35);
  ASSERT_EQ(e.WriteMemory(WRITE_HEADER_TO_BUFFER), 0);
  const std::vector<uint8_t> header = e.output;
  EXPECT_EQ(MarkerSequence(header), (std::vector<uint8_t>{0xD8, 0xE0, 0xFE, 0xDB, 0xDB, 0xC4, 0xD9}));
  ASSERT_EQ(e.WriteMemory(WRITE_ENTROPY_TO_BUFFER), 0);
  const std::vector<uint8_t> entropy = e.output;
  const auto markers = MarkerSequence(entropy);
  EXPECT_EQ(markers.front(), 0xD8);
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xDB), 0);
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xC4), 0);
  EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xE0), 0);
  ASSERT_EQ(e.WriteMemory(WRITE_IMAGE_TO_BUFFER), 0);
  const std::vector<uint8_t> whole = e.output;

  // Tables of the header stream in front of the abbreviated image.
  std::vector<uint8_t> spliced(header.begin(), header.end() - 2);
  spliced.insert(spliced.end(), entropy.begin() + 2, entropy.end());
  std::vector<uint8_t> a, b;
  ASSERT_EQ(jpegtest::Djpeg(spliced, &a), 0);
  ASSERT_EQ(jpegtest::Djpeg(whole, &b), 0);
  EXPECT_EQ(a, b);

  const std::string path = jpegtest::TempPath("header.jpg");
  e.props.jpeg_file = path.c_str();
  ASSERT_EQ(JpegWrite(&e.props, WRITE_HEADER_TO_FILE), 0);
  EXPECT_EQ(jpegtest::ReadFile(path), header);
  unlink(path.c_str());
}

TEST(JpegStream, ExactSizeBufferIsTooSmall) {
  Encoder e;
  e.SetRgb(45, 33);
  ASSERT_EQ(e.WriteMemory(), 0);
  const std::vector<uint8_t> reference = e.output;
  EXPECT_EQ(e.WriteMemory(WRITE_IMAGE_TO_BUFFER, reference.size()), -28);
  EXPECT_EQ(e.WriteMemory(WRITE_IMAGE_TO_BUFFER, reference.size() - 1), -28);
  EXPECT_EQ(e.WriteMemory(WRITE_IMAGE_TO_BUFFER, 100), -28);
  ASSERT_EQ(e.WriteMemory(WRITE_IMAGE_TO_BUFFER, reference.size() + 1), 0);
  EXPECT_EQ(e.output, reference);
}

TEST(JpegStream, RestartIntervalOneOnNineMcus) {
  Encoder e;
  e.SetRgb(24, 24);
  e.props.jpeg_subsampling = 0;
  e.props.props.restart_interval = 1;
  ASSERT_EQ(e.WriteMemory(), 0);
  auto markers = MarkerSequence(e.output);
  const auto sos = std::find(markers.begin(), markers.end(), 0xDA);
  ASSERT_NE(sos, markers.end());
  EXPECT_EQ(std::count(markers.begin(), sos, 0xDD), 1);
  EXPECT_EQ(std::vector<uint8_t>(sos + 1, markers.end()),
            (std::vector<uint8_t>{0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD0, 0xD9}));
  std::vector<uint8_t> restarted, plain;
  ASSERT_EQ(jpegtest::Djpeg(e.output, &restarted), 0);
  e.props.props.restart_interval = 0;
  ASSERT_EQ(e.WriteMemory(), 0);
  ASSERT_EQ(jpegtest::Djpeg(e.output, &plain), 0);
  EXPECT_EQ(restarted, plain);
}

TEST(JpegStream, InterruptedWriteEqualsOneWrite) {
  for (bool file : {false, true}) {
    for (uint32_t restart : {0u, 3u}) {
      Encoder e;
      e.SetRgb(75, 41);
      e.props.props.restart_interval = restart;
      const std::string path = jpegtest::TempPath("interrupt.jpg");
      std::vector<uint8_t> whole;
      if (file) {
        e.props.jpeg_file = path.c_str();
        ASSERT_EQ(JpegWrite(&e.props, WRITE_IMAGE_TO_FILE), 0);
        whole = jpegtest::ReadFile(path);
      } else {
        ASSERT_EQ(e.WriteMemory(), 0);
        whole = e.output;
      }
      const JpegWorkState* work = e.props.props.work;
      const int mcus = 5 * 3;
      std::vector<uint8_t> buffer(whole.size() + 1);
      e.props.jpeg_bytes = buffer.data();
      e.props.jpeg_size = static_cast<uint32_t>(buffer.size());
      int calls = 0;
      int32_t result;
      do {
        e.props.props.interrupt_request = 1;
        result = JpegWrite(&e.props, file ? WRITE_IMAGE_TO_FILE : WRITE_IMAGE_TO_BUFFER);
        ++calls;
        if (result == 1) {
          EXPECT_EQ(e.props.props.interrupt_request, 0u);
          const int done = calls - 1;  // MCUs finished before this call's one
          EXPECT_EQ(e.props.props.progress_width, std::min(16 * (done % 5 + 1), 75));
          EXPECT_EQ(e.props.props.progress_height, std::min(16 * (done / 5 + 1), 41));
        }
      } while (result == 1 && calls < 100);
      ASSERT_EQ(result, 0);
      EXPECT_EQ(calls, mcus + 1) << "the last interrupt comes after the last MCU";
      (void)work;
      const std::vector<uint8_t> pieces =
          file ? jpegtest::ReadFile(path) : std::vector<uint8_t>(buffer.begin(), buffer.begin() + e.props.jpeg_size);
      EXPECT_EQ(e.props.jpeg_size, whole.size());
      EXPECT_EQ(pieces, whole) << (file ? "file" : "memory") << " restart " << restart;
      unlink(path.c_str());
    }
  }
}

TEST(JpegStream, FailedFileWriteReportsFileError) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  Encoder e;
  e.SetRgb(256, 256);
  e.props.jpeg_file = "/dev/full";
  EXPECT_EQ(JpegWrite(&e.props, WRITE_IMAGE_TO_FILE), -23);
  EXPECT_EQ(e.props.props.work->file, -1) << "the file is closed after a failure";
}
