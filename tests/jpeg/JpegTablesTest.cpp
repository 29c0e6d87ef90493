#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "JpegTestSupport.h"
#include "common/JpegHuffman.h"
#include "common/JpegTables.h"
#include "encoder/JpegEncoder.h"
#include "encoder/JpegHuffmanEncode.h"

using jpegtest::Encoder;

namespace {

std::vector<std::vector<uint8_t>> DqtSegments(const std::vector<uint8_t>& stream) {
  std::vector<std::vector<uint8_t>> tables;
  for (const jpegtest::Segment& s : jpegtest::Segments(stream))
    if (s.marker == 0xDB)
      tables.emplace_back(stream.begin() + static_cast<long>(s.offset),
                          stream.begin() + static_cast<long>(s.offset + s.length));
  return tables;
}

// "code/length" of a symbol, e.g. 1010/4.
std::string Code(const JpegHuffmanCodeTable& table, int symbol) {
  std::string bits;
  for (int i = table.length[symbol] - 1; i >= 0; --i) bits += ((table.code[symbol] >> i) & 1) ? '1' : '0';
  return bits;
}

}  // namespace

TEST(JpegTables, QualityScaling) {
  uint16_t a[64], b[64];
  JpegScaleQuantTable(1, kJpegLuminanceQuant, a);
  for (int q : {0, -5}) {
    JpegScaleQuantTable(q, kJpegLuminanceQuant, b);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof(a))) << q;
  }
  for (int q : {100, 101}) {
    JpegScaleQuantTable(q, kJpegChrominanceQuant, b);
    EXPECT_TRUE(std::all_of(b, b + 64, [](uint16_t v) { return v == 1; })) << q;
  }
  JpegScaleQuantTable(50, kJpegLuminanceQuant, b);
  for (int k = 0; k < 64; ++k) EXPECT_EQ(b[k], kJpegLuminanceQuant[k]);
  JpegScaleQuantTable(75, kJpegLuminanceQuant, b);
  EXPECT_EQ(b[0], 8);
  EXPECT_EQ(a[63], 255) << "quality 1 clamps at 255";
}

TEST(JpegTables, ReciprocalsOfBothMethods) {
  uint16_t table[64];
  std::fill(table, table + 64, 1);
  PrepareQuantReciprocalsExact(table);
  EXPECT_TRUE(std::all_of(table, table + 64, [](uint16_t r) { return r == 32768; }));
  std::fill(table, table + 64, 1);
  JpegPrepareQuantReciprocals(table);
  EXPECT_EQ(table[0], 4096);
  EXPECT_EQ(table[63], (1 + 53810) / 2) << "a step of 1 at the last position divides by 2";
  EXPECT_EQ(table[8], 2953);
  // The numerators lie within one of 4096 / (s(u) s(v)).
  for (int k = 0; k < 64; ++k) {
    const int n = kJpegZigzag[k];
    auto s = [](int f) { return f == 0 ? 1.0 : std::sqrt(2.0) * std::cos(f * M_PI / 16); };
    EXPECT_NEAR(kJpegAanNumerators[k], 4096 / (s(n / 8) * s(n % 8)), 1.0) << k;
  }
}

TEST(JpegTables, DqtEqualsOutsideEncoderAtEveryQuality) {
  const std::string in = jpegtest::TempPath("dqt.ppm"), out = jpegtest::TempPath("dqt.jpg");
  jpegtest::WritePpm(in, jpegtest::MakeRgb(16, 16), 16, 16);
  for (int q : {1, 10, 50, 75, 100}) {
    ASSERT_EQ(jpegtest::RunCommand("cjpeg -baseline -quality " + std::to_string(q) + " -outfile '" + out + "' '" +
                                   in + "'"),
              0);
    const auto theirs = DqtSegments(jpegtest::ReadFile(out));
    for (uint32_t method : {1u, 0u}) {
      Encoder e;
      e.SetRgb(16, 16);
      e.props.quality = q;
      e.props.props.dct_method = method;
      ASSERT_EQ(e.WriteMemory(), 0);
      auto ours = DqtSegments(e.output);
      ASSERT_EQ(ours.size(), 2u);
      ASSERT_EQ(theirs.size(), 2u);
      if (method == 0 && q == 100) {
        // The scaled transform divides by 2 at zig-zag position 63 and says so.
        EXPECT_EQ(ours[0].back(), 2);
        EXPECT_EQ(ours[1].back(), 2);
        ours[0].back() = 1;
        ours[1].back() = 1;
      }
      EXPECT_EQ(ours, theirs) << "quality " << q << " method " << method;
    }
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
}

TEST(JpegTables, HuffmanCodesOfAnnexC) {
  JpegHuffmanCodeTable dc, ac;
  ASSERT_EQ(JpegDeriveHuffmanCodes(kJpegDcLuminanceBits, kJpegDcLuminanceValues, &dc), 0);
  ASSERT_EQ(JpegDeriveHuffmanCodes(kJpegAcLuminanceBits, kJpegAcLuminanceValues, &ac), 0);
  const char* dcCodes[12] = {"00",     "010",     "011",      "100",       "101",        "110",
                             "1110",   "11110",   "111110",   "1111110",   "11111110",   "111111110"};
  for (int s = 0; s < 12; ++s) EXPECT_EQ(Code(dc, s), dcCodes[s]) << s;
  EXPECT_EQ(Code(ac, 0x01), "00");
  EXPECT_EQ(Code(ac, 0x02), "01");
  EXPECT_EQ(Code(ac, 0x03), "100");
  EXPECT_EQ(Code(ac, 0x00), "1010");
  EXPECT_EQ(Code(ac, 0x11), "1100");
  EXPECT_EQ(Code(ac, 0xF0), "11111111001");
  EXPECT_EQ(Code(ac, 0xFA), "1111111111111110");
  EXPECT_EQ(ac.length[0x0B], 0) << "no code for size 11 AC";

  JpegHuffmanCodeTable chroma;
  ASSERT_EQ(JpegDeriveHuffmanCodes(kJpegDcChrominanceBits, kJpegDcChrominanceValues, &chroma), 0);
  EXPECT_EQ(Code(chroma, 0), "00");
  EXPECT_EQ(Code(chroma, 11), "11111111110");
}

TEST(JpegTables, OversubscribedTablesAreRefused) {
  uint8_t bits[16] = {3};
  const uint8_t values[3] = {0, 1, 2};
  JpegHuffmanCodeTable codes;
  EXPECT_EQ(JpegDeriveHuffmanCodes(bits, values, &codes), -6);
  JpegHuffmanDecodeTable decode;
  EXPECT_EQ(JpegBuildHuffmanTable(bits, values, 0, 0, &decode), -6);
  uint8_t many[16] = {};
  many[15] = 255;
  many[14] = 4;
  uint8_t manyValues[259] = {};
  EXPECT_EQ(JpegDeriveHuffmanCodes(many, manyValues, &codes), -6) << "more than 258 codes";
  uint8_t full[16] = {2};  // codes 0 and 1 fill length 1 exactly
  EXPECT_EQ(JpegDeriveHuffmanCodes(full, values, &codes), 0);
}

TEST(JpegTables, DecodingTableLookAhead) {
  JpegHuffmanDecodeTable table;
  ASSERT_EQ(JpegBuildHuffmanTable(kJpegDcLuminanceBits, kJpegDcLuminanceValues, 0, 1, &table), 0);
  EXPECT_EQ(table.number, 1);
  EXPECT_EQ(table.lookAhead[0x00], 2u * 65536 + 0);   // 00xxxxxx
  EXPECT_EQ(table.lookAhead[0x3F], 2u * 65536 + 0);
  EXPECT_EQ(table.lookAhead[0x40], 3u * 65536 + 1);   // 010xxxxx
  EXPECT_EQ(table.lookAhead[0xFE], 8u * 65536 + 10);  // 11111110
  EXPECT_EQ(table.lookAhead[0xFF], 0u) << "prefix of the 9-bit code";
  EXPECT_EQ(table.lastCode[1], 65535);
  EXPECT_EQ(table.firstCode[3], 2);
  EXPECT_EQ(table.lastCode[3], 6);
  EXPECT_EQ(table.firstIndex[3], 1);
}

TEST(JpegTables, OptimalTableLimitsLengthsAndFavoursFrequentSymbols) {
  uint32_t frequencies[kJpegFrequencySlots] = {};
  // Fibonacci frequencies force code lengths beyond 16 before adjustment.
  uint32_t a = 1, b = 1;
  for (int s = 0; s < 30; ++s) {
    frequencies[s] = a;
    const uint32_t next = a + b;
    a = b;
    b = next;
  }
  uint8_t bits[16], values[256];
  int count = 0;
  GenerateOptimalHuffmanTable(frequencies, bits, values, &count);
  EXPECT_EQ(count, 30);
  int total = 0;
  for (uint8_t n : bits) total += n;
  EXPECT_EQ(total, 30);
  JpegHuffmanCodeTable codes;
  ASSERT_EQ(JpegDeriveHuffmanCodes(bits, values, &codes), 0);
  for (int s = 0; s < 30; ++s) {
    EXPECT_GT(codes.length[s], 0);
    EXPECT_LE(codes.length[s], 16);
    if (s > 0 && frequencies[s] > frequencies[s - 1]) {
      EXPECT_LE(codes.length[s], codes.length[s - 1]) << s;
    }
    // No real symbol gets the all-ones code.
    EXPECT_NE(codes.code[s], (1u << codes.length[s]) - 1) << s;
  }
}

TEST(JpegTables, ProgressiveScripts) {
  JpegWorkState work;
  std::vector<JpegProgressiveScan> scans;
  struct Case {
    int components;
    uint32_t colour;
    int32_t result;
    size_t scans;
  };
  for (const Case& c : {Case{1, COLOR_GRAY, 0, 6}, Case{2, COLOR_OTHER, 0, 5}, Case{3, COLOR_YCBCR, 0, 10},
                        Case{3, COLOR_RGB, 0, 8}, Case{3, COLOR_OTHER, 0, 8}, Case{4, COLOR_YCBCRA, 0, 11},
                        Case{4, COLOR_RGBA, 0, 10}, Case{3, COLOR_BGR, -8, 0}, Case{1, COLOR_YCBCR, -8, 0}}) {
    work.componentCount = c.components;
    for (int i = 0; i < 4; ++i) work.components[i] = {i, 1, 1, 0};
    EXPECT_EQ(JpegSetupProgressiveScans(&work, c.colour, &scans), c.result) << c.components << "/" << c.colour;
    EXPECT_EQ(scans.size(), c.scans);
  }
  work.componentCount = 3;
  work.components[0] = {0, 2, 2, 0};
  ASSERT_EQ(JpegSetupProgressiveScans(&work, COLOR_YCBCR, &scans), 0);
  EXPECT_EQ(scans[0].componentCount, 3);
  EXPECT_EQ(scans[0].h[0], 2);
  EXPECT_EQ(scans[2].components[0], 2);
  EXPECT_EQ(scans[2].al, 1);
  EXPECT_EQ(scans[6].ah, 1);
}

TEST(JpegTables, FrameGeometry) {
  Encoder e;
  e.SetRgb(17, 9);
  ASSERT_EQ(e.WriteMemory(), 0);
  const JpegWorkState* work = e.props.props.work;
  EXPECT_EQ(work->mcusPerRow, 2);
  EXPECT_EQ(work->mcuRows, 1);
  EXPECT_EQ(work->mcuWidth, 16);
  EXPECT_TRUE(work->downsample);
  // Three components, 4:2:0, no colour conversion: table 0 for all of them,
  // while components 2 and 3 keep Huffman tables 1.
  Encoder plain;
  plain.SetRgb(16, 16);
  plain.props.color_convert = 0;
  ASSERT_EQ(plain.WriteMemory(), 0);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(plain.props.props.work->components[c].quantTable, 0);
  EXPECT_EQ(plain.props.props.work->dcSelect[1], 1);
}
