// What a read costs and when its rows appear: memory follows the caller's
// buffer (plus one MCU row and the coefficient store a stream needs), not the
// size a frame claims, and the general output path writes each MCU row as
// soon as it is decoded.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "JpegTestSupport.h"

using jpegtest::Decoder;

namespace {

// A field of /proc/self/status, in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

constexpr long kCannotMeasure = -2;  // the kernel would not reset the peak

// Runs the read in a child process and returns how far its resident memory
// rose above where it stood (MB), and the read's result.
struct Cost {
  long megabytes = -1;
  int32_t result = 0;
};
Cost MeasureRead(const std::function<int32_t()>& decode) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const long before = StatusKb("VmRSS:");
    bool reset = false;
    {
      std::ofstream peak("/proc/self/clear_refs");
      peak << "5" << std::flush;  // the peak starts again from what is resident now
      reset = peak.good();
    }
    const int32_t result = decode();
    const long values[2] = {reset ? (StatusKb("VmHWM:") - before) / 1024 : kCannotMeasure, result};
    if (write(fds[1], values, sizeof(values)) != sizeof(values)) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  long values[2] = {-1, 0};
  const bool got = read(fds[0], values, sizeof(values)) == sizeof(values);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return {values[0], static_cast<int32_t>(values[1])};
}

// A small stream whose frame claims width x height.
std::vector<uint8_t> Claiming(const std::string& options, int width, int height) {
  std::vector<uint8_t> stream = jpegtest::Cjpeg(jpegtest::MakeRgb(64, 64, 3), 64, 64, options);
  for (const jpegtest::Segment& s : jpegtest::Segments(stream))
    if (s.marker == 0xC0 || s.marker == 0xC2) {
      stream[s.offset + 5] = static_cast<uint8_t>(height >> 8);
      stream[s.offset + 6] = static_cast<uint8_t>(height);
      stream[s.offset + 7] = static_cast<uint8_t>(width >> 8);
      stream[s.offset + 8] = static_cast<uint8_t>(width);
    }
  return stream;
}

}  // namespace

TEST(JpegDecoderMemory, AReadCostsTheBufferAndOneMcuRowNotThePicture) {
  const std::vector<uint8_t> colour = Claiming("-sample 2x2", 30000, 30000);
  const std::vector<uint8_t> single = Claiming("-sample 1x1", 30000, 30000);
  const std::vector<uint8_t> grey = Claiming("-grayscale", 30000, 30000);
  const struct {
    const char* what;
    const std::vector<uint8_t>* stream;
    int32_t type;
    bool smooth;
    JpegRect region;
    uint32_t jpegColour;
  } cases[] = {
      {"smooth 4:2:0", &colour, READ_IMAGE_FROM_BUFFER, true, {}, COLOR_YCBCR},
      {"smooth 4:2:0, a region far in", &colour, READ_IMAGE_FROM_BUFFER, true, {9000, 9000, 9064, 9064}, COLOR_YCBCR},
      {"4:4:4 at half size", &single, READ_HALF_FROM_BUFFER, false, {}, COLOR_YCBCR},
      {"grey into RGB", &grey, READ_IMAGE_FROM_BUFFER, false, {}, COLOR_GRAY},
  };
  if (MeasureRead([] { return 0; }).megabytes == kCannotMeasure) GTEST_SKIP() << "no resettable peak memory";
  for (const auto& c : cases) {
    const Cost cost = MeasureRead([&] {
      Decoder d;
      d.SetBuffer(64, 64, 3, COLOR_RGB);
      d.SetStream(*c.stream, c.jpegColour, c.jpegColour == COLOR_GRAY ? 1 : 3);
      d.props.props.upsampling_mode = c.smooth;
      d.props.props.region_of_interest = c.region;
      return d.Read(c.type);
    });
    ASSERT_GE(cost.megabytes, 0) << c.what;
    // The stream's data runs out long before the picture it claims.
    EXPECT_EQ(cost.result, JPEG_ERR_DATA) << c.what;
    EXPECT_LT(cost.megabytes, 24) << c.what;  // one MCU row of 30000 pixels is under 2 MB
  }

  // A progressive picture needs its coefficient store (2 bytes a sample,
  // 46 MB here) and little beside it.
  const std::vector<uint8_t> progressive = Claiming("-sample 2x2 -progressive", 4000, 4000);
  const Cost cost = MeasureRead([&] {
    Decoder d;
    d.SetBuffer(64, 64, 3, COLOR_RGB);
    d.SetStream(progressive, COLOR_YCBCR, 3);
    d.props.props.upsampling_mode = 1;
    return d.Read();
  });
  ASSERT_GE(cost.megabytes, 0);
  EXPECT_LT(cost.megabytes, 46 + 14);

  // The cap holds for the whole read: a grey store of exactly 1 GiB
  // (4096 x 2048 blocks) leaves no room for the band of a grey-into-RGB read.
  const std::vector<uint8_t> greyProgressive = Claiming("-grayscale -progressive", 32768, 16384);
  const Cost refused = MeasureRead([&] {
    Decoder d;
    d.SetBuffer(64, 64, 3, COLOR_RGB);
    d.SetStream(greyProgressive, COLOR_GRAY, 1);
    return d.Read();
  });
  EXPECT_EQ(refused.result, JPEG_ERR_MEMORY);
  EXPECT_LT(refused.megabytes, 24);
}

TEST(JpegDecoderMemory, InterruptedGeneralReadsWriteRowsAsTheyAreDecoded) {
  constexpr int kWidth = 100, kHeight = 90;
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(kWidth, kHeight, 4);
  const std::vector<uint8_t> colour = jpegtest::Cjpeg(rgb, kWidth, kHeight, "-sample 2x2");
  const std::vector<uint8_t> grey = jpegtest::Cjpeg(rgb, kWidth, kHeight, "-grayscale");
  const struct {
    const char* what;
    const std::vector<uint8_t>* stream;
    int32_t type;
    int scale;
    bool smooth;
    int mcuHeight;  // output rows per MCU row
  } cases[] = {
      {"smooth", &colour, READ_IMAGE_FROM_BUFFER, 1, true, 16},
      {"grey into RGB", &grey, READ_IMAGE_FROM_BUFFER, 1, false, 8},
      {"half size", &colour, READ_HALF_FROM_BUFFER, 2, false, 8},
  };
  for (const auto& c : cases) {
    const int width = (kWidth + c.scale - 1) / c.scale, height = (kHeight + c.scale - 1) / c.scale;
    const uint32_t jpegColour = c.stream == &grey ? COLOR_GRAY : COLOR_YCBCR;
    Decoder oneShot;
    oneShot.SetBuffer(width, height, 3, COLOR_RGB);
    oneShot.SetStream(*c.stream, jpegColour, jpegColour == COLOR_GRAY ? 1 : 3);
    oneShot.props.props.upsampling_mode = c.smooth;
    ASSERT_EQ(oneShot.Read(c.type), 0) << c.what;
    const std::vector<uint8_t> expected = oneShot.Picture();
    const size_t rowBytes = static_cast<size_t>(width) * 3;

    Decoder d;
    d.SetBuffer(width, height, 3, COLOR_RGB);
    d.SetStream(*c.stream, jpegColour, jpegColour == COLOR_GRAY ? 1 : 3);
    d.props.props.upsampling_mode = c.smooth;
    int32_t result;
    int calls = 0, mostRowsEarly = 0;
    do {
      d.props.props.interrupt_request = 1;
      result = d.Read(c.type);
      ++calls;
      if (result != JPEG_INTERRUPT_SUCCESS) break;
      const std::vector<uint8_t> now = d.Picture();
      int done = 0;
      while (done < height && std::equal(now.begin() + static_cast<long>(done * rowBytes),
                                         now.begin() + static_cast<long>((done + 1) * rowBytes),
                                         expected.begin() + static_cast<long>(done * rowBytes)))
        ++done;
      // Every MCU row before the one in progress is out (the smooth filter
      // holds back the last row, which needs the next MCU row's samples).
      const int rowsBefore = (d.props.props.progress_height - 1) / c.mcuHeight * c.mcuHeight;
      EXPECT_GE(done, std::min(rowsBefore, height) - (c.smooth ? 1 : 0))
          << c.what << ", call " << calls << ", progress " << d.props.props.progress_height;
      mostRowsEarly = std::max(mostRowsEarly, done);
    } while (calls < 100000);
    ASSERT_EQ(result, 0) << c.what;
    EXPECT_GT(mostRowsEarly, height / 2) << c.what;
    EXPECT_EQ(d.Picture(), expected) << c.what;
  }
}
