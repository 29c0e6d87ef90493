// The stream reader's refusals, header reads, comments and thumbnails, and a
// bounded fuzz loop: no input may crash or hang the decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "JpegTestSupport.h"

using jpegtest::Decoder;

namespace {

constexpr int kWidth = 40, kHeight = 24;

std::vector<uint8_t> Baseline(const std::string& options = "-sample 2x2") {
  return jpegtest::Cjpeg(jpegtest::MakeRgb(kWidth, kHeight, 8), kWidth, kHeight, options);
}

// Offset of the first segment with the marker (at its 0xFF).
size_t Find(const std::vector<uint8_t>& stream, uint8_t marker) {
  for (const jpegtest::Segment& s : jpegtest::Segments(stream))
    if (s.marker == marker) return s.offset;
  return 0;
}

int32_t ReadImage(const std::vector<uint8_t>& stream, int32_t type = READ_IMAGE_FROM_BUFFER, bool smooth = false) {
  Decoder d;
  d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  d.SetStream(stream, COLOR_YCBCR, 3);
  d.props.props.upsampling_mode = smooth;
  return d.Read(type);
}

}  // namespace

TEST(JpegDecoderStream, MalformedHeadersAreRefusedWithTheirCodes) {
  const std::vector<uint8_t> good = Baseline();
  const size_t sof = Find(good, 0xC0), dqt = Find(good, 0xDB), dht = Find(good, 0xC4), sos = Find(good, 0xDA);
  ASSERT_NE(sof, 0u);
  ASSERT_EQ(ReadImage(good), 0);
  const struct {
    const char* what;
    size_t at;
    uint8_t value;
    int32_t expected;
  } cases[] = {
      {"lossless frame", sof + 1, 0xC3, JPEG_ERR_UNSUPPORTED_FRAME},
      {"12-bit samples", sof + 4, 12, JPEG_ERR_UNSUPPORTED_FRAME},
      {"height from a DNL", sof + 6, 0, JPEG_ERR_DNL},
      {"five components", sof + 9, 5, JPEG_ERR_COMP},
      {"no components", sof + 9, 0, JPEG_ERR_COMP},
      {"sampling factor 0", sof + 11, 0x20, JPEG_ERR_NOT_SUPPORTED},
      {"sampling factor 5", sof + 11, 0x51, JPEG_ERR_NOT_SUPPORTED},
      {"ratio 3 to 2", sof + 14, 0x31, JPEG_ERR_NOT_SUPPORTED},
      {"quantisation table 4", dqt + 4, 0x04, JPEG_ERR_BAD_QUANT},
      {"quantisation segment too long", dqt + 2, 0x03, JPEG_ERR_DATA},
      {"Huffman class 2", dht + 4, 0x20, JPEG_ERR_BAD_HUFFMAN},
      {"Huffman table 4", dht + 4, 0x04, JPEG_ERR_BAD_HUFFMAN},
      {"Huffman segment too long", dht + 2, 0x05, JPEG_ERR_DATA},
      {"scan without components", sos + 4, 0, JPEG_ERR_DATA},
      {"scan with five components", sos + 4, 5, JPEG_ERR_DATA},
      {"scan of an unknown component", sos + 5, 9, JPEG_ERR_DATA},
      {"scan table 4", sos + 6, 0x40, JPEG_ERR_DATA},
      {"scan of an undefined table", sos + 6, 0x22, JPEG_ERR_NO_HUFFMAN},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bad = good;
    bad[c.at] = c.value;
    EXPECT_EQ(ReadImage(bad), c.expected) << c.what;
  }

  std::vector<uint8_t> notJpeg = good;
  notJpeg[1] = 0xD9;
  Decoder d;
  d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  d.SetStream(notJpeg, COLOR_YCBCR, 3);
  EXPECT_EQ(d.Read(READ_PARAMS_FROM_BUFFER), JPEG_ERR_NOT_JPEG);

  // A picture without its frame, then EOI and something other than SOI.
  const std::vector<uint8_t> noImage = {0xFF, 0xD8, 0xFF, 0xD9, 0xFF, 0xC4, 0x00, 0x02};
  d.SetStream(noImage, COLOR_YCBCR, 3);
  EXPECT_EQ(d.Read(), JPEG_ERR_NO_IMAGE);
  // A scan before any frame.
  std::vector<uint8_t> scanFirst = good;
  scanFirst.erase(scanFirst.begin() + 2, scanFirst.begin() + static_cast<long>(sos));
  d.SetStream(scanFirst, COLOR_YCBCR, 3);
  EXPECT_EQ(d.Read(), JPEG_ERR_NO_FRAME);
}

TEST(JpegDecoderStream, HeaderReadsStopAtTheirMarker) {
  const std::vector<uint8_t> good = Baseline();
  Decoder d;
  d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  d.SetStream(good, COLOR_YCBCR, 3);
  ASSERT_EQ(d.Read(READ_PARAMS_FROM_BUFFER), 0);
  EXPECT_EQ(d.props.jpeg_width, static_cast<uint32_t>(kWidth));
  EXPECT_EQ(d.props.jpeg_height, static_cast<uint32_t>(kHeight));
  EXPECT_EQ(d.props.jpeg_channels, 3u);
  EXPECT_EQ(d.props.props.jfif_version, 0x0101);
  EXPECT_EQ(d.props.props.adobe_transform, 255) << "no Adobe segment";
  EXPECT_EQ(std::count(d.pixels.begin(), d.pixels.end(), 0xA5), static_cast<long>(d.pixels.size()));

  // Adobe's transform byte tells an RGB stream.
  const std::vector<uint8_t> rgb = Baseline("-rgb");
  d.SetStream(rgb, COLOR_RGB, 3);
  ASSERT_EQ(d.Read(READ_PARAMS_FROM_BUFFER), 0);
  EXPECT_EQ(d.props.props.adobe_transform, 0);
}

TEST(JpegDecoderStream, CommentsAreCopiedUpToTheCallersBuffer) {
  std::vector<uint8_t> stream = Baseline();
  const std::string text(100, 'c');
  std::vector<uint8_t> comment = {0xFF, 0xFE, 0x00, 102};
  comment.insert(comment.end(), text.begin(), text.end());
  stream.insert(stream.begin() + 2, comment.begin(), comment.end());
  Decoder d;
  d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  d.SetStream(stream, COLOR_YCBCR, 3);
  uint8_t room[100] = {};
  d.props.props.jpeg_comment = room;
  d.props.props.comment_size = 40;
  EXPECT_EQ(d.Read(READ_PARAMS_FROM_BUFFER), JPEG_ERR_COMMENT_ACCESS);
  EXPECT_EQ(d.props.props.comment_size, 100);
  EXPECT_EQ(room[39], 'c');
  EXPECT_EQ(room[40], 0);
  ASSERT_EQ(d.Read(READ_PARAMS_FROM_BUFFER), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(room), 100), text);

  // An empty comment is a comment of no bytes: the caller's buffer is left
  // as it was.
  std::vector<uint8_t> empty = Baseline();
  const std::vector<uint8_t> nothing = {0xFF, 0xFE, 0x00, 0x02};
  empty.insert(empty.begin() + 2, nothing.begin(), nothing.end());
  d.SetStream(empty, COLOR_YCBCR, 3);
  d.props.props.jpeg_comment = room;
  d.props.props.comment_size = 100;
  ASSERT_EQ(d.Read(READ_PARAMS_FROM_BUFFER), 0);
  EXPECT_EQ(d.props.props.comment_size, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(room), 100), text);
}

TEST(JpegDecoderStream, ThumbnailsAreDeliveredInTheBuffersOrder) {
  std::vector<uint8_t> stream = Baseline();
  // A JFIF segment with a 2 x 2 thumbnail in place of cjpeg's own.
  const size_t app0 = Find(stream, 0xE0);
  const size_t length = (stream[app0 + 2] << 8 | stream[app0 + 3]) + 2;
  std::vector<uint8_t> jfif = {0xFF, 0xE0, 0x00, 16 + 12, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 2, 2};
  for (uint8_t i = 0; i < 4; ++i) jfif.insert(jfif.end(), {static_cast<uint8_t>(10 + i), 100, static_cast<uint8_t>(200 + i)});
  stream.erase(stream.begin() + static_cast<long>(app0), stream.begin() + static_cast<long>(app0 + length));
  stream.insert(stream.begin() + static_cast<long>(app0), jfif.begin(), jfif.end());

  Decoder d;
  d.SetBuffer(2, 2, 3, COLOR_BGR);
  d.SetStream(stream, COLOR_YCBCR, 3);
  ASSERT_EQ(d.Read(READ_THUMBNAIL_FROM_BUFFER), 0);
  EXPECT_EQ(d.props.thumb_width, 2u);
  EXPECT_EQ(d.props.thumb_height, 2u);
  EXPECT_EQ(d.pixels[0], 200);
  EXPECT_EQ(d.pixels[2], 10);
  EXPECT_EQ(d.pixels[9], 203);

  Decoder small;
  small.SetBuffer(1, 2, 3, COLOR_RGB);
  small.SetStream(stream, COLOR_YCBCR, 3);
  EXPECT_EQ(small.Read(READ_THUMBNAIL_FROM_BUFFER), JPEG_ERR_BUFFER_TOO_SMALL);
  // The picture itself still decodes past the thumbnail.
  EXPECT_EQ(ReadImage(stream), 0);

  // A palette thumbnail (JFXX extension 0x11): 2 x 1 indexes into 256 colours.
  std::vector<uint8_t> jfxx = {0xFF, 0xE0, 0x00, 0x00, 'J', 'F', 'X', 'X', 0, 0x11, 2, 1};
  for (int i = 0; i < 256; ++i) jfxx.insert(jfxx.end(), {static_cast<uint8_t>(i), 50, static_cast<uint8_t>(255 - i)});
  jfxx.insert(jfxx.end(), {7, 9});
  jfxx[2] = static_cast<uint8_t>((jfxx.size() - 2) >> 8);
  jfxx[3] = static_cast<uint8_t>(jfxx.size() - 2);
  std::vector<uint8_t> paletted = Baseline();
  paletted.insert(paletted.begin() + 2, jfxx.begin(), jfxx.end());
  Decoder p;
  p.SetBuffer(2, 1, 3, COLOR_RGB);
  p.SetStream(paletted, COLOR_YCBCR, 3);
  ASSERT_EQ(p.Read(READ_THUMBNAIL_FROM_BUFFER), 0);
  EXPECT_EQ(p.pixels, (std::vector<uint8_t>{7, 50, 248, 9, 50, 246}));
}

TEST(JpegDecoderStream, RestartMarkersOutOfPlaceDoNotDerailTheDecoder) {
  const std::vector<uint8_t> good = Baseline("-restart 1");
  std::vector<uint8_t> reference;
  ASSERT_EQ(jpegtest::DecodeImage(good, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &reference), 0);
  // Wrong restart numbers are tolerated.
  std::vector<uint8_t> renumbered = good;
  for (size_t i = Find(good, 0xDA) + 12; i + 1 < renumbered.size(); ++i)
    if (renumbered[i] == 0xFF && renumbered[i + 1] >= 0xD0 && renumbered[i + 1] <= 0xD7) renumbered[i + 1] = 0xD3;
  std::vector<uint8_t> ours;
  ASSERT_EQ(jpegtest::DecodeImage(renumbered, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), 0);
  EXPECT_EQ(ours, reference);
}

TEST(JpegDecoderStream, NoInputCrashesOrHangsTheDecoder) {
  std::vector<std::vector<uint8_t>> corpus = {Baseline(), Baseline("-progressive"), Baseline("-restart 1 -sample 2x1"),
                                              Baseline("-sample 1x2 -optimize"), Baseline("-grayscale")};
  jpegtest::Encoder e;
  e.SetRgb(kWidth, kHeight, 2);
  e.props.props.progressive = 1;
  e.props.jpeg_subsampling = 2;
  ASSERT_EQ(e.WriteMemory(), 0);
  corpus.push_back(e.output);
  std::mt19937 random(2024);
  const int32_t types[] = {READ_IMAGE_FROM_BUFFER, READ_HALF_FROM_BUFFER, READ_EIGHTH_FROM_BUFFER,
                           READ_PARAMS_FROM_BUFFER, READ_THUMBNAIL_FROM_BUFFER};
  int decoded = 0;
  for (const std::vector<uint8_t>& original : corpus) {
    ASSERT_FALSE(original.empty());
    const size_t scan = Find(original, 0xDA);
    for (int trial = 0; trial < 400; ++trial) {
      std::vector<uint8_t> stream = original;
      switch (trial % 4) {
        case 0:  // truncation
          stream.resize(1 + random() % stream.size());
          break;
        case 1:  // a header byte
          stream[random() % scan] = static_cast<uint8_t>(random());
          break;
        case 2:  // a few bytes anywhere
          for (int k = 0; k < 4; ++k) stream[random() % stream.size()] = static_cast<uint8_t>(random());
          break;
        default:  // a header byte set to an extreme
          stream[2 + random() % (scan - 2)] = (random() & 1) != 0 ? 0xFF : 0x00;
          break;
      }
      Decoder d;
      d.SetBuffer(kWidth, kHeight, 4, COLOR_RGBA, 3);
      d.SetStream(stream, original == corpus[4] ? COLOR_GRAY : COLOR_YCBCR, original == corpus[4] ? 1 : 3);
      d.props.props.upsampling_mode = (trial & 8) != 0;
      d.props.props.dct_method = (trial >> 4) & 1;
      int32_t type = types[trial % 5];
      std::string path;
      if (trial % 10 == 0) {
        // Now and then through a file, whose reads end differently.
        path = jpegtest::TempPath("fuzz.jpg");
        jpegtest::WriteFile(path, stream);
        d.props.jpeg_file = path.c_str();
        type &= ~1;
      }
      const int32_t result = d.Read(type);
      if (!path.empty()) std::remove(path.c_str());
      EXPECT_TRUE(result <= 2) << result;
      if (result == 0) ++decoded;
      // Pad bytes are never written, whatever the stream says.
      for (int y = 0; y < kHeight; ++y)
        for (int k = 0; k < 3; ++k) ASSERT_EQ(d.pixels[static_cast<size_t>(y) * (kWidth * 4 + 3) + kWidth * 4 + k], 0xA5);
    }
  }
  EXPECT_GT(decoded, 100);
}

TEST(JpegDecoderStream, FramesAreReplacedOrKeptAsTheirMarkersSay) {
  const std::vector<uint8_t> good = Baseline();
  std::vector<uint8_t> reference, ours;
  ASSERT_EQ(jpegtest::DecodeImage(good, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &reference), 0);
  // An extended sequential frame decodes like a baseline one.
  std::vector<uint8_t> extended = good;
  extended[Find(good, 0xC0) + 1] = 0xC1;
  ASSERT_EQ(jpegtest::DecodeImage(extended, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), 0);
  EXPECT_EQ(ours, reference);
  // A second picture in the stream after EOI: its SOI starts afresh.
  std::vector<uint8_t> two = good;
  const std::vector<uint8_t> progressive = Baseline("-progressive");
  two.insert(two.end(), progressive.begin(), progressive.end());
  ASSERT_EQ(jpegtest::DecodeImage(two, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ours), 0);
  EXPECT_EQ(ours, reference);
  // A record reused for a progressive stream forgets the earlier frame.
  Decoder d;
  d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
  d.SetStream(good, COLOR_YCBCR, 3);
  ASSERT_EQ(d.Read(), 0);
  d.SetStream(progressive, COLOR_YCBCR, 3);
  ASSERT_EQ(d.Read(), 0);
  std::vector<uint8_t> alone;
  ASSERT_EQ(jpegtest::DecodeImage(progressive, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &alone), 0);
  EXPECT_EQ(d.Picture(), alone);
}

TEST(JpegDecoderStream, DataThatEndsEarlyKeepsWhatCameAndGreysTheRest) {
  const std::vector<uint8_t> good = Baseline("-sample 1x1 -quality 95");
  std::vector<uint8_t> whole;
  ASSERT_EQ(jpegtest::DecodeImage(good, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &whole), 0);
  const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(Find(good, 0xDA) + 14 + (good.size() - Find(good, 0xDA)) / 3));
  std::vector<uint8_t> part;
  EXPECT_EQ(jpegtest::DecodeImage(cut, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &part), JPEG_ERR_MEMORY)
      << "the marker search runs out of data";
  EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + kWidth * 3 * 8, part.begin())) << "the first MCU row";
  const uint8_t* last = &part[part.size() - 3];
  EXPECT_TRUE(last[0] == 128 && last[1] == 129 && last[2] == 128) << int(last[0]) << " " << int(last[1]);

  // A frame that claims a huge picture costs only what the buffer holds.
  std::vector<uint8_t> huge = good;
  const size_t sof = Find(good, 0xC0);
  huge[sof + 5] = huge[sof + 6] = huge[sof + 7] = huge[sof + 8] = 0xFF;
  std::vector<uint8_t> ignored;
  EXPECT_LE(jpegtest::DecodeImage(huge, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ignored), 0);
  std::vector<uint8_t> progressive = Baseline("-progressive");
  const size_t psof = Find(progressive, 0xC2);
  progressive[psof + 5] = progressive[psof + 6] = progressive[psof + 7] = progressive[psof + 8] = 0xFF;
  EXPECT_EQ(jpegtest::DecodeImage(progressive, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &ignored),
            JPEG_ERR_MEMORY) << "its coefficient store would pass the cap";
}
