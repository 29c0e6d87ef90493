// Our decoder against the outside decoder (djpeg) on streams of the outside
// encoder (cjpeg) and of our own encoder.
#include <gtest/gtest.h>

#include <algorithm>

#include "JpegTestSupport.h"

using jpegtest::Compare;
using jpegtest::DecodeImage;
using jpegtest::Difference;

namespace {

constexpr int kWidth = 123, kHeight = 77;

const std::vector<uint8_t>& Picture() {
  static const std::vector<uint8_t> rgb = jpegtest::MakeRgb(kWidth, kHeight, 21);
  return rgb;
}

std::vector<uint8_t> Grey() {
  std::vector<uint8_t> grey;
  const auto& rgb = Picture();
  for (size_t i = 0; i < rgb.size(); i += 3) grey.push_back(static_cast<uint8_t>((rgb[i] + 2 * rgb[i + 1] + rgb[i + 2]) / 4));
  return grey;
}

// Scan scripts: a component-by-component baseline picture, and a progressive
// one whose successive approximation never finishes.
std::string ScriptFile(const std::string& name, const std::string& text) {
  const std::string path = jpegtest::TempPath(name);
  jpegtest::WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
  return path;
}

struct Variant {
  std::string options;
  uint32_t colour;
};

std::vector<Variant> Variants() {
  std::vector<Variant> variants;
  for (const char* quality : {"75", "90"}) {
    const std::string q = std::string("-quality ") + quality + " ";
    for (const char* sample : {"2x2", "2x1", "1x1", "1x2", "4x1"})
      variants.push_back({q + "-sample " + sample, COLOR_YCBCR});
    variants.push_back({q + "-optimize", COLOR_YCBCR});
    variants.push_back({q + "-restart 1", COLOR_YCBCR});
    variants.push_back({q + "-restart 2B -sample 2x1", COLOR_YCBCR});
    variants.push_back({q + "-progressive", COLOR_YCBCR});
    variants.push_back({q + "-progressive -sample 1x1", COLOR_YCBCR});
    variants.push_back({q + "-rgb", COLOR_RGB});
  }
  variants.push_back({"-scans " + ScriptFile("noninterleaved.txt", "0;\n1;\n2;\n"), COLOR_YCBCR});
  variants.push_back({"-progressive -restart 3", COLOR_YCBCR});
  return variants;
}

}  // namespace

TEST(JpegDecoderPeer, OutsideStreamsDecodeLikeTheOutsideDecoder) {
  for (const Variant& v : Variants()) {
    const std::vector<uint8_t> stream = jpegtest::Cjpeg(Picture(), kWidth, kHeight, v.options);
    ASSERT_FALSE(stream.empty()) << v.options;
    std::vector<uint8_t> reference, ours;
    ASSERT_EQ(jpegtest::Djpeg(stream, &reference), 0);
    ASSERT_EQ(DecodeImage(stream, v.colour, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), 0) << v.options;
    const Difference exact = Compare(ours, reference);
    EXPECT_LE(exact.max, 5) << v.options;
    EXPECT_LE(exact.mean, 0.5) << v.options;

    // The fast transform against the outside decoder's exact one.
    ASSERT_EQ(DecodeImage(stream, v.colour, 3, kWidth, kHeight, 3, COLOR_RGB, &ours, READ_IMAGE_FROM_BUFFER, 0), 0);
    EXPECT_LE(Compare(ours, reference).max, 6) << v.options;
  }
}

TEST(JpegDecoderPeer, GreyStreamsDecodeLikeTheOutsideDecoder) {
  for (const std::string options :
       {"-quality 75", "-quality 90 -optimize", "-quality 90 -progressive", "-restart 1", "-grayscale"}) {
    // -grayscale makes the grey frame from the colour picture.
    const std::vector<uint8_t> stream =
        jpegtest::Cjpeg(options == "-grayscale" ? Picture() : Grey(), kWidth, kHeight, options);
    ASSERT_FALSE(stream.empty());
    std::vector<uint8_t> reference, ours;
    ASSERT_EQ(jpegtest::Djpeg(stream, &reference), 0);
    for (uint32_t method : {1u, 0u}) {
      ASSERT_EQ(DecodeImage(stream, COLOR_GRAY, 1, kWidth, kHeight, 1, COLOR_GRAY, &ours, READ_IMAGE_FROM_BUFFER,
                            method), 0);
      EXPECT_LE(Compare(ours, reference).max, 2) << options << " method " << method;
    }
    // A grey picture into colour buffers repeats the sample.
    ASSERT_EQ(DecodeImage(stream, COLOR_GRAY, 1, kWidth, kHeight, 4, COLOR_RGBA, &ours), 0);
    for (size_t i = 0; i < reference.size(); ++i) {
      ASSERT_LE(std::abs(ours[i * 4] - reference[i]), 2);
      ASSERT_EQ(ours[i * 4 + 1], ours[i * 4]);
      ASSERT_EQ(ours[i * 4 + 2], ours[i * 4]);
      ASSERT_EQ(ours[i * 4 + 3], 255);
    }
  }
}

TEST(JpegDecoderPeer, ScaledReadsMatchTheOutsideScaling) {
  const struct {
    int32_t type;
    int scale;
  } scales[] = {{READ_HALF_FROM_BUFFER, 2}, {READ_QUARTER_FROM_BUFFER, 4}, {READ_EIGHTH_FROM_BUFFER, 8}};
  for (const char* options : {"-sample 2x2", "-sample 2x1", "-sample 1x1", "-progressive"}) {
    const std::vector<uint8_t> stream = jpegtest::Cjpeg(Picture(), kWidth, kHeight, options);
    for (const auto& s : scales) {
      const int width = (kWidth + s.scale - 1) / s.scale, height = (kHeight + s.scale - 1) / s.scale;
      std::vector<uint8_t> reference, ours;
      ASSERT_EQ(jpegtest::Djpeg(stream, &reference, "-dct int -nosmooth -scale 1/" + std::to_string(s.scale)), 0);
      ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, width, height, 3, COLOR_RGB, &ours, s.type), 0);
      const Difference d = Compare(ours, reference);
      EXPECT_LE(d.max, 5) << options << " 1/" << s.scale;
      EXPECT_LE(d.mean, 0.5) << options << " 1/" << s.scale;
    }
  }
}

TEST(JpegDecoderPeer, SmoothUpsamplingMatchesTheOutsideDefault) {
  for (const char* options : {"-sample 2x2", "-sample 2x1", "-sample 2x2 -progressive"}) {
    const std::vector<uint8_t> stream = jpegtest::Cjpeg(Picture(), kWidth, kHeight, options);
    std::vector<uint8_t> reference;
    ASSERT_EQ(jpegtest::Djpeg(stream, &reference, "-dct int"), 0);
    jpegtest::Decoder d;
    d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
    d.SetStream(stream, COLOR_YCBCR, 3);
    d.props.props.upsampling_mode = 1;
    ASSERT_EQ(d.Read(), 0);
    const Difference difference = Compare(d.Picture(), reference);
    EXPECT_LE(difference.max, 5) << options;
    EXPECT_LE(difference.mean, 0.5) << options;
  }
}

TEST(JpegDecoderPeer, UnfinishedRefinementStillGivesThePicture) {
  const std::string script = ScriptFile("unfinished.txt", "0 1 2: 0 0 0 1;\n0: 1 63 0 1;\n1: 1 63 0 0;\n2: 1 63 0 0;\n");
  const std::vector<uint8_t> stream = jpegtest::Cjpeg(Picture(), kWidth, kHeight, "-scans " + script);
  ASSERT_FALSE(stream.empty());
  std::vector<uint8_t> ours;
  ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), 0);
  EXPECT_GT(jpegtest::Psnr(ours, Picture()), 20.0);
}

TEST(JpegDecoderPeer, ArithmeticCodingIsRefused) {
  const std::vector<uint8_t> stream = jpegtest::Cjpeg(Picture(), kWidth, kHeight, "-arithmetic");
  ASSERT_FALSE(stream.empty());
  std::vector<uint8_t> ours;
  EXPECT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), JPEG_ERR_UNSUPPORTED_FRAME);
}

TEST(JpegDecoderPeer, EveryLayoutOurEncoderWritesDecodesBack) {
  for (uint32_t mode : {0u, 1u, 2u})
    for (bool progressive : {false, true})
      for (uint32_t restart : {0u, 3u}) {
        jpegtest::Encoder e;
        e.SetRgb(kWidth, kHeight, 5);
        e.props.jpeg_subsampling = mode;
        e.props.props.progressive = progressive;
        e.props.props.restart_interval = restart;
        ASSERT_EQ(e.WriteMemory(), 0);
        std::vector<uint8_t> reference, ours;
        ASSERT_EQ(jpegtest::Djpeg(e.output, &reference), 0);
        ASSERT_EQ(DecodeImage(e.output, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), 0);
        EXPECT_LE(Compare(ours, reference).max, 5) << mode << " " << progressive << " " << restart;
      }
  // Grey and untransformed RGB frames.
  for (uint32_t colour : {COLOR_GRAY, COLOR_RGB}) {
    jpegtest::Encoder e;
    const uint32_t channels = colour == COLOR_GRAY ? 1 : 3;
    e.SetRgb(kWidth, kHeight, 5);
    e.props.jpeg_channels = channels;
    e.props.jpeg_color = colour;
    e.props.jpeg_subsampling = 0;
    ASSERT_EQ(e.WriteMemory(), 0);
    std::vector<uint8_t> reference, ours;
    ASSERT_EQ(jpegtest::Djpeg(e.output, &reference), 0);
    ASSERT_EQ(DecodeImage(e.output, colour, channels, kWidth, kHeight, static_cast<int>(channels),
                          colour == COLOR_GRAY ? COLOR_GRAY : COLOR_RGB, &ours), 0);
    EXPECT_LE(Compare(ours, reference).max, 2) << colour;
  }
  // Four-component layouts have no outside peer: they come back near the source.
  for (uint32_t colour : {COLOR_RGBA, COLOR_YCBCRA})
    for (uint32_t mode : {0u, 3u, 4u}) {
      if (colour == COLOR_RGBA && mode != 0) continue;
      std::vector<uint8_t> rgba;
      const auto& rgb = Picture();
      for (size_t i = 0; i < rgb.size(); i += 3)
        rgba.insert(rgba.end(), {static_cast<uint8_t>(255 - rgb[i]), static_cast<uint8_t>(255 - rgb[i + 1]),
                                 static_cast<uint8_t>(255 - rgb[i + 2]), static_cast<uint8_t>(rgb[i + 1] / 2 + 60)});
      jpegtest::Encoder e;
      e.SetPixels(rgba, kWidth, kHeight, 4, COLOR_RGBA);
      e.props.jpeg_channels = 4;
      e.props.jpeg_color = colour;
      e.props.jpeg_subsampling = mode;
      e.props.quality = 95;
      ASSERT_EQ(e.WriteMemory(), 0);
      std::vector<uint8_t> ours;
      ASSERT_EQ(DecodeImage(e.output, colour, 4, kWidth, kHeight, 4, COLOR_RGBA, &ours), 0);
      // Subsampled chroma of the noisy picture costs a few dB.
      EXPECT_GT(jpegtest::Psnr(ours, rgba), mode == 0 ? 28.0 : 23.0) << colour << " mode " << mode;
    }
}

TEST(JpegDecoderPeer, CoarseTablesKeepTheFastTransformClose) {
  // Quality 5 makes steps whose scaled multipliers outgrow 16 bits.
  const std::vector<uint8_t> stream = jpegtest::Cjpeg(Picture(), kWidth, kHeight, "-quality 5");
  ASSERT_FALSE(stream.empty());
  std::vector<uint8_t> reference, ours;
  ASSERT_EQ(jpegtest::Djpeg(stream, &reference), 0);
  for (uint32_t method : {0u, 1u}) {
    ASSERT_EQ(DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours, READ_IMAGE_FROM_BUFFER, method), 0);
    EXPECT_LE(Compare(ours, reference).max, 6) << "method " << method;
  }
}
