// Our streams checked by the outside decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "JpegTestSupport.h"

using jpegtest::Encoder;

namespace {

struct Size {
  int width, height;
};
const Size kOddSizes[] = {{1, 1}, {17, 13}, {123, 77}, {8, 8}, {33, 65}};

}  // namespace

TEST(JpegPeer, EveryLayoutAndSizeDecodesCleanly) {
  for (const Size& size : kOddSizes) {
    for (uint32_t mode : {0u, 1u, 2u}) {
      for (bool progressive : {false, true}) {
        for (uint32_t method : {0u, 1u}) {
          for (uint32_t restart : {0u, 2u}) {
            Encoder e;
            e.SetRgb(size.width, size.height, 4);
            e.props.jpeg_subsampling = mode;
            e.props.quality = 90;
            e.props.props.progressive = progressive;
            e.props.props.dct_method = method;
            e.props.props.restart_interval = restart;
            ASSERT_EQ(e.WriteMemory(), 0);
            std::vector<uint8_t> decoded;
            ASSERT_EQ(jpegtest::Djpeg(e.output, &decoded), 0)
                << size.width << "x" << size.height << " mode " << mode << " progressive " << progressive
                << " method " << method << " restart " << restart;
            ASSERT_EQ(decoded.size(), static_cast<size_t>(size.width) * size.height * 3);
            EXPECT_GT(jpegtest::Psnr(decoded, e.pixels), 20.0);
          }
        }
      }
    }
  }
}

TEST(JpegPeer, GreyAndRgbFramesDecodeCleanly) {
  for (const Size& size : kOddSizes) {
    for (bool progressive : {false, true}) {
      Encoder grey;
      std::vector<uint8_t> luma(static_cast<size_t>(size.width) * size.height);
      for (size_t i = 0; i < luma.size(); ++i) luma[i] = static_cast<uint8_t>((i * 31) ^ (i / 7));
      grey.SetPixels(luma, size.width, size.height, 1, COLOR_GRAY);
      grey.props.jpeg_channels = 1;
      grey.props.jpeg_color = COLOR_GRAY;
      grey.props.jpeg_subsampling = 0;
      grey.props.props.progressive = progressive;
      ASSERT_EQ(grey.WriteMemory(), 0);
      EXPECT_EQ(jpegtest::Djpeg(grey.output), 0) << "grey " << size.width << "x" << size.height;

      Encoder rgb;
      rgb.SetRgb(size.width, size.height, 9);
      rgb.props.jpeg_color = COLOR_RGB;
      rgb.props.jpeg_subsampling = 0;
      rgb.props.props.progressive = progressive;
      ASSERT_EQ(rgb.WriteMemory(), 0);
      std::vector<uint8_t> decoded;
      ASSERT_EQ(jpegtest::Djpeg(rgb.output, &decoded), 0) << "rgb " << size.width << "x" << size.height;
      EXPECT_GT(jpegtest::Psnr(decoded, rgb.pixels), 30.0);
    }
  }
}

TEST(JpegPeer, ProgressiveDecodesLikeBaseline) {
  for (const Size& size : {Size{123, 77}, Size{17, 13}, Size{200, 150}}) {
    for (uint32_t mode : {0u, 1u, 2u}) {
      Encoder e;
      e.SetRgb(size.width, size.height, 6);
      e.props.jpeg_subsampling = mode;
      e.props.quality = 85;
      ASSERT_EQ(e.WriteMemory(), 0);
      std::vector<uint8_t> baseline, progressive;
      ASSERT_EQ(jpegtest::Djpeg(e.output, &baseline), 0);
      e.props.props.progressive = 1;
      ASSERT_EQ(e.WriteMemory(), 0);
      const auto markers = jpegtest::MarkerSequence(e.output);
      EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xC2), 1);
      EXPECT_EQ(std::count(markers.begin(), markers.end(), 0xDA), 10);
      ASSERT_EQ(jpegtest::Djpeg(e.output, &progressive), 0);
      EXPECT_EQ(progressive, baseline) << size.width << "x" << size.height << " mode " << mode;
      // A second progressive write of the same record reuses its store.
      const std::vector<uint8_t> first = e.output;
      ASSERT_EQ(e.WriteMemory(), 0);
      EXPECT_EQ(e.output, first);
    }
  }
}

TEST(JpegPeer, QualityHundredIsCloseToOutsideEncoder) {
  const int width = 160, height = 96;
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(width, height, 13);
  const std::string in = jpegtest::TempPath("fidelity.ppm"), out = jpegtest::TempPath("fidelity.jpg");
  jpegtest::WritePpm(in, rgb, width, height);
  ASSERT_EQ(jpegtest::RunCommand("cjpeg -quality 100 -sample 2x2 -dct int -outfile '" + out + "' '" + in + "'"), 0);
  std::vector<uint8_t> theirs, ours;
  ASSERT_EQ(jpegtest::Djpeg(jpegtest::ReadFile(out), &theirs), 0);

  Encoder e;
  std::vector<uint8_t> rgbx;
  for (int y = height - 1; y >= 0; --y)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      rgbx.insert(rgbx.end(), {p[0], p[1], p[2], 0x55});
    }
  e.SetPixels(rgbx, width, -height, 4, COLOR_RGB);
  e.props.quality = 100;
  ASSERT_EQ(e.WriteMemory(), 0);
  ASSERT_EQ(jpegtest::Djpeg(e.output, &ours), 0);
  const double psnrOurs = jpegtest::Psnr(ours, rgb), psnrTheirs = jpegtest::Psnr(theirs, rgb);
  EXPECT_GE(psnrOurs, psnrTheirs - 0.5) << psnrOurs << " dB against " << psnrTheirs << " dB";

  // Without subsampling quality 100 is nearly lossless.
  e.props.jpeg_subsampling = 0;
  ASSERT_EQ(e.WriteMemory(), 0);
  ASSERT_EQ(jpegtest::Djpeg(e.output, &ours), 0);
  EXPECT_GT(jpegtest::Psnr(ours, rgb), 45.0);
  unlink(in.c_str());
  unlink(out.c_str());
}

TEST(JpegPeer, NoisyFileOutputAcrossManyBuffers) {
  // Noise at quality 100 gives long streams with many 0xFF bytes.
  const int width = 300, height = 200;
  std::vector<uint8_t> noise(static_cast<size_t>(width) * height * 3);
  uint32_t state = 12345;
  for (auto& byte : noise) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(state >> 16);
  }
  for (bool progressive : {false, true}) {
    Encoder e;
    e.SetPixels(noise, width, height, 3, COLOR_RGB);
    e.props.quality = 100;
    e.props.jpeg_subsampling = 0;
    e.props.props.progressive = progressive;
    const std::string path = jpegtest::TempPath("noise.jpg");
    e.props.jpeg_file = path.c_str();
    ASSERT_EQ(JpegWrite(&e.props, WRITE_IMAGE_TO_FILE), 0);
    const std::vector<uint8_t> file = jpegtest::ReadFile(path);
    EXPECT_GT(file.size(), 100000u);
    EXPECT_EQ(file.size(), e.props.jpeg_size);
    std::vector<uint8_t> decoded;
    ASSERT_EQ(jpegtest::Djpeg(file, &decoded), 0) << "progressive " << progressive;
    EXPECT_GT(jpegtest::Psnr(decoded, noise), 40.0);
    unlink(path.c_str());
  }
}
