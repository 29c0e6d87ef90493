// The decoder's kernels on their own: bit reader and Huffman decoders, the
// inverse transforms against the exact IDCT, and the colour of the fast family.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "JpegWorkState.h"
#include "common/JpegTables.h"
#include "decoder/JpegDecoder.h"

namespace {

// A memory stream over the bytes.
struct Bits {
  std::vector<uint8_t> bytes;
  JpegInputStream in;
  explicit Bits(std::vector<uint8_t> data) : bytes(std::move(data)) {
    in.file = kJpegNoFile;
    in.next = bytes.data();
    in.end = bytes.data() + bytes.size();
    JpegClearBitState(&in);
  }
};

// T.81 A.3.3 inverse DCT in double precision, level-shifted and clamped.
void ReferenceIdct(const int16_t* in, double* out) {
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
          const double cu = u == 0 ? M_SQRT1_2 : 1, cv = v == 0 ? M_SQRT1_2 : 1;
          sum += cu * cv * in[u * 8 + v] * std::cos((2 * x + 1) * v * M_PI / 16) * std::cos((2 * y + 1) * u * M_PI / 16);
        }
      out[y * 8 + x] = std::min(255.0, std::max(0.0, sum / 4 + 128));
    }
}

}  // namespace

TEST(JpegDecoderKernels, BitReaderUnstuffsAndStopsAtMarkers) {
  // A DC table whose only code "0" means size 8: each block's DC is the next 8 bits.
  const uint8_t counts[16] = {1};
  const uint8_t values[1] = {8};
  const uint8_t acCounts[16] = {1};
  const uint8_t acValues[1] = {0x00};  // code "0": end of block
  JpegHuffmanDecodeTable dc, ac;
  ASSERT_EQ(JpegBuildHuffmanTable(counts, values, 0, 0, &dc), 0);
  ASSERT_EQ(JpegBuildHuffmanTable(acCounts, acValues, 1, 0, &ac), 0);
  // Bits: 0, 11111111 (0xFF stuffed as FF 00), 0, then fill bytes and a marker.
  Bits b({0x7F, 0xFF, 0x00, 0x3F, 0xFF, 0xFF, 0xD0});
  int16_t block[64];
  int32_t lastDc = 0;
  ASSERT_EQ(DecodeBlockSequential(&b.in, &dc, &ac, &lastDc, block), 0);
  EXPECT_EQ(block[0], 255) << "FF 00 is the data byte FF";
  ASSERT_EQ(DecodeBlockSequential(&b.in, &dc, &ac, &lastDc, block), 0);
  EXPECT_EQ(b.in.pendingMarker, 0xD0) << "fill bytes passed, marker kept";
  // Past the marker the data is over: blocks end at once with what they hold.
  lastDc = 5;
  ASSERT_EQ(DecodeBlockSequential(&b.in, &dc, &ac, &lastDc, block), 0);
  ASSERT_EQ(DecodeBlockSequential(&b.in, &dc, &ac, &lastDc, block), 0);
  for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0);
}

TEST(JpegDecoderKernels, EndOfBandRunsSpanBlocks) {
  // AC table: code "0" = EOB2 (run 2, size 0); code "10" = run 0 size 1.
  const uint8_t counts[16] = {1, 1};
  const uint8_t values[2] = {0x20, 0x01};
  JpegHuffmanDecodeTable ac;
  ASSERT_EQ(JpegBuildHuffmanTable(counts, values, 1, 0, &ac), 0);
  // EOB2 with the bits 01: a run of 4 + 1 = 5 bands; then "10" "1": +1 at Al 0.
  Bits b({0x34, 0x00});
  int16_t block[64] = {};
  for (int band = 0; band < 5; ++band) {
    ASSERT_EQ(DecodeAcFirst(&b.in, block, &ac, 1, 63, 0), 0);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], 0) << "band " << band;
  }
  ASSERT_EQ(DecodeAcFirst(&b.in, block, &ac, 1, 63, 0), 0);
  EXPECT_EQ(block[kJpegZigzag[1]], 1);
}

TEST(JpegDecoderKernels, InverseTransformsMatchTheExactIdct) {
  std::mt19937 random(3);
  std::uniform_int_distribution<int> coefficient(-300, 300);
  for (int trial = 0; trial < 500; ++trial) {
    int16_t in[64] = {};
    for (int i = 0; i < 64; ++i)
      if (i < 10 || random() % 4 == 0) in[i] = static_cast<int16_t>(coefficient(random) / (1 + i / 8));
    double reference[64];
    ReferenceIdct(in, reference);
    int16_t exact[64], fast[64];
    std::memcpy(exact, in, sizeof(in));
    InverseDctExact(exact);
    // The fast transform takes its coefficients with the AAN scale (step 1 tables).
    const uint16_t ones[64] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                               1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                               1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    int32_t multipliers[64];
    PrepareDequantTableAan(ones, multipliers);
    std::memcpy(fast, in, sizeof(in));
    DequantizeBlockAan(fast, multipliers);
    InverseDctAan(fast);
    for (int i = 0; i < 64; ++i) {
      ASSERT_LE(std::abs(exact[i] - reference[i]), 1.01) << trial << " at " << i;
      ASSERT_LE(std::abs(fast[i] - reference[i]), 3.01) << trial << " at " << i;
    }
  }
}

TEST(JpegDecoderKernels, ReducedTransformsKeepTheirCornerAndTheRest) {
  // DC only: every size gives v + 128 for DC 8v (16v after the fast family's
  // scaled dequantisation), clamped.
  for (int dc : {8 * 10, -1024, 1016, 2000}) {
    const int expected = std::min(255, std::max(0, dc / 8 + 128));
    for (auto transform : {InverseDctExact, InverseDctExact4x4, InverseDctExact2x2, InverseDctExact1x1,
                           InverseDctAan4x4, InverseDctAan2x2}) {
      int16_t block[64] = {};
      block[0] = static_cast<int16_t>(transform == InverseDctAan4x4 || transform == InverseDctAan2x2 ? 2 * dc : dc);
      transform(block);
      EXPECT_EQ(block[0], expected) << dc;
    }
  }
  int16_t one[64] = {12};
  InverseDctExact1x1(one);
  EXPECT_EQ(one[0], 130);
  // The 4x4 transforms leave rows 4..7 and columns 4..7 of rows 0..3 alone.
  for (auto transform : {InverseDctExact4x4, InverseDctAan4x4}) {
    int16_t block[64];
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i % 8 == 4 ? 0 : (i % 5) - 2);
    int16_t before[64];
    std::memcpy(before, block, sizeof(block));
    transform(block);
    for (int i = 32; i < 64; ++i) ASSERT_EQ(block[i], before[i]);
  }
}

TEST(JpegDecoderKernels, FastFamilyColourFollowsItsFormula) {
  JpegRoutineTable table;
  JpegFillRoutineTable(&table, 0);
  int16_t y[64], cb[64], cr[64];
  const int16_t* samples[4] = {y, cb, cr, nullptr};
  uint8_t out[8 * 8 * 3];
  auto convert = [&](int Y, int Cb, int Cr) {
    std::fill_n(y, 64, Y);
    std::fill_n(cb, 64, Cb);
    std::fill_n(cr, 64, Cr);
    table.outputKernels[2].kernel(samples, out, 24);  // 1x1 YCbCr to RGB
    return std::vector<int>{out[0], out[1], out[2]};
  };
  EXPECT_EQ(convert(255, 128, 255)[0], 255);
  EXPECT_EQ(convert(0, 128, 0)[0], 0);
  EXPECT_EQ(convert(128, 128, 128), (std::vector<int>{128, 129, 128}));
  EXPECT_EQ(convert(100, 50, 200), (std::vector<int>{201, 76, 0}));
}

TEST(JpegDecoderKernels, EveryProcessorTypeHasEveryDecoderRoutine) {
  for (int type = 0; type <= 6; ++type) {
    JpegRoutineTable table;
    JpegFillRoutineTable(&table, type);
    for (auto routine : table.inverseDctFast) EXPECT_NE(routine, nullptr) << type;
    EXPECT_NE(table.inverseDct, nullptr);
    for (auto routine : table.inverseDctFurther) EXPECT_NE(routine, nullptr) << type;
    EXPECT_NE(table.dequantizeExact, nullptr);
    for (auto routine : table.huffmanDecode) EXPECT_NE(routine, nullptr) << type;
    for (auto routine : table.dequantizeAan) EXPECT_NE(routine, nullptr) << type;
    EXPECT_EQ(table.outputKernels[0].routine, nullptr) << "chosen per picture";
    for (int entry = 1; entry < kJpegOutputKernelSlots; ++entry)
      EXPECT_NE(table.outputKernels[entry].kernel, nullptr) << type << " entry " << entry;
  }
}
