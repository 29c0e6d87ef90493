#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "JpegCodec.h"
#include "JpegTestSupport.h"

using jpegtest::Encoder;

TEST(JpegInterface, InitSetsDefaults) {
  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  ASSERT_EQ(JpegInit(&props), 0);
  EXPECT_EQ(props.image_channels, 3u);
  EXPECT_EQ(props.image_color, COLOR_BGR);
  EXPECT_EQ(props.jpeg_channels, 3u);
  EXPECT_EQ(props.jpeg_color, COLOR_YCBCR);
  EXPECT_EQ(props.jpeg_subsampling, SUBSAMPLING_420);
  EXPECT_EQ(props.color_convert, 1u);
  EXPECT_EQ(props.upsample, 1u);
  EXPECT_EQ(props.quality, 75);
  EXPECT_EQ(props.props.io_type, -1);
  EXPECT_EQ(props.props.dct_method, 1u);
  EXPECT_EQ(props.props.adobe_version, 100);
  EXPECT_EQ(props.props.jfif_version, 0x0101);
  EXPECT_EQ(props.props.jfif_x_density, 1);
  EXPECT_EQ(props.props.jfif_y_density, 1);
  EXPECT_EQ(JpegFree(&props), 0);
  EXPECT_EQ(props.props.runtime, nullptr);
  EXPECT_EQ(props.props.work, nullptr);
}

TEST(JpegInterface, ErrorStringsAndVersion) {
  EXPECT_STREQ(JpegErrorString(0), "Success");
  EXPECT_STREQ(JpegErrorString(1), "Interrupt Success");
  EXPECT_STREQ(JpegErrorString(2), "ROI Success");
  EXPECT_STREQ(JpegErrorString(-8), "Invalid JPEG_PROPERTIES");
  EXPECT_STREQ(JpegErrorString(-28), "Output buffer too small");
  EXPECT_STREQ(JpegErrorString(-30), "Error access to jpeg_comment buffer");
  EXPECT_STREQ(JpegErrorString(-99), "Reserved");
  for (int code : {-31, -98, 3}) EXPECT_STREQ(JpegErrorString(code), "Unknown error code");
  for (int code = -30; code <= 2; ++code) EXPECT_STRNE(JpegErrorString(code), "Unknown error code") << code;
  const JpegVersionInfo* version = JpegGetLibVersion();
  EXPECT_EQ(version->major, 1);
  EXPECT_EQ(version->build, 3);
  EXPECT_STREQ(version->name, "vyrjpeg.lib");
  EXPECT_STREQ(version->internalVersion, "[1.0.3.7]");
}

TEST(JpegInterface, WriteRefusesUninitialisedOrFreedRecord) {
  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  EXPECT_EQ(JpegWrite(&props, WRITE_IMAGE_TO_FILE), -2);
  EXPECT_EQ(JpegRead(&props, READ_IMAGE_FROM_FILE), -2);
  ASSERT_EQ(JpegInit(&props), 0);
  JpegFree(&props);
  EXPECT_EQ(JpegWrite(&props, WRITE_IMAGE_TO_BUFFER), -2);
}

TEST(JpegInterface, ReadOfAMissingFileOrWithAWriteTypeIsRefused) {
  Encoder e;
  e.SetRgb(16, 16);
  e.props.jpeg_file = "/nonexistent.jpg";
  EXPECT_EQ(JpegRead(&e.props, READ_IMAGE_FROM_FILE), JPEG_ERR_FILE_NAME);
  EXPECT_EQ(JpegRead(&e.props, WRITE_IMAGE_TO_FILE), -8);
}

TEST(JpegInterface, ValidationMatrix) {
  struct Case {
    const char* what;
    void (*change)(JpegCoreProperties&);
    int32_t type;
    int32_t expected;
  };
  const Case cases[] = {
      {"type below range", [](JpegCoreProperties&) {}, -1, -8},
      {"type above range", [](JpegCoreProperties&) {}, 22, -8},
      {"width 0", [](JpegCoreProperties& p) { p.image_width = 0; }, 9, -8},
      {"width 65536", [](JpegCoreProperties& p) { p.image_width = 65536; }, 9, -8},
      {"height 0", [](JpegCoreProperties& p) { p.image_height = 0; }, 9, -8},
      {"no pixels", [](JpegCoreProperties& p) { p.image_bytes = nullptr; }, 9, -8},
      {"channels 0", [](JpegCoreProperties& p) { p.image_channels = 0; }, 9, -8},
      {"packed without YCbCr", [](JpegCoreProperties& p) { p.image_subsampling = 2; }, 9, -3},
      {"buffer size 0", [](JpegCoreProperties& p) { p.jpeg_size = 0; }, 9, -8},
      {"no file name", [](JpegCoreProperties&) {}, 8, -8},
      {"grey with 4:2:0", [](JpegCoreProperties& p) { p.jpeg_channels = 1; p.jpeg_color = COLOR_GRAY; }, 9, -3},
      {"three with mode 3", [](JpegCoreProperties& p) { p.jpeg_subsampling = 3; }, 9, -3},
      {"RGB/4 to grey", [](JpegCoreProperties& p) {
         p.image_channels = 4; p.jpeg_channels = 1; p.jpeg_color = COLOR_GRAY; p.jpeg_subsampling = 0; }, 9, -8},
      {"frame larger than buffer", [](JpegCoreProperties& p) { p.jpeg_width += 1; }, 9, -8},
      {"frame shorter than buffer", [](JpegCoreProperties& p) { p.jpeg_height -= 1; }, 9, -8},
      {"five components", [](JpegCoreProperties& p) {
         p.image_color = COLOR_OTHER; p.jpeg_color = COLOR_OTHER; p.image_channels = 5; p.jpeg_channels = 5;
         p.jpeg_subsampling = 0; }, 9, -8},
      {"dct method 2", [](JpegCoreProperties& p) { p.props.dct_method = 2; }, 9, -8},
      {"thumbnail into grey", [](JpegCoreProperties& p) { p.image_color = COLOR_GRAY; }, 21, -27},
      {"read request mode 1", [](JpegCoreProperties& p) { p.props.read_request = 1; p.props.read_request_mode = 1; }, 9, -8},
  };
  for (const Case& c : cases) {
    Encoder e;
    e.SetRgb(32, 16);
    e.output.assign(100000, 0);
    e.props.jpeg_bytes = e.output.data();
    e.props.jpeg_size = 100000;
    c.change(e.props);
    e.props.props.io_type = c.type;
    EXPECT_EQ(JpegValidateProperties(&e.props), c.expected) << c.what;
    EXPECT_EQ(JpegWrite(&e.props, c.type), c.expected) << c.what;
  }
}

TEST(JpegInterface, ValidationAcceptsLimitsAndAllowedPairs) {
  Encoder e;
  e.SetRgb(8, 8);
  e.output.assign(16, 0);
  e.props.jpeg_bytes = e.output.data();
  e.props.jpeg_size = 16;
  e.props.props.io_type = WRITE_IMAGE_TO_BUFFER;
  e.props.image_height = -65535;
  e.props.jpeg_height = 65535;
  EXPECT_EQ(JpegValidateProperties(&e.props), 0);
  e.props.image_height = 65535;
  EXPECT_EQ(JpegValidateProperties(&e.props), 0);
  e.props.image_channels = 4;
  EXPECT_EQ(JpegValidateProperties(&e.props), 0) << "RGB/4 to YCbCr/3";
  e.props.jpeg_color = COLOR_RGB;
  EXPECT_EQ(JpegValidateProperties(&e.props), -8) << "RGB/4 to RGB/3";
  e.props.direct_properties = 1;
  EXPECT_EQ(JpegValidateProperties(&e.props), 0);
}

TEST(JpegInterface, SizeAfterFileWriteEqualsFileLength) {
  Encoder e;
  e.SetRgb(45, 31);
  const std::string path = jpegtest::TempPath("size.jpg");
  e.props.jpeg_file = path.c_str();
  ASSERT_EQ(JpegWrite(&e.props, WRITE_IMAGE_TO_FILE), 0);
  EXPECT_EQ(e.props.jpeg_size, jpegtest::ReadFile(path).size());
  EXPECT_GT(e.props.jpeg_size, 600u);
  e.props.jpeg_file = "/nonexistent-dir/x.jpg";
  EXPECT_EQ(JpegWrite(&e.props, WRITE_IMAGE_TO_FILE), -10);
  unlink(path.c_str());
}
