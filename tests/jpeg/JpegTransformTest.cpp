#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "common/JpegTables.h"
#include "encoder/JpegEncoder.h"
#include "encoder/JpegEncoderKernels.h"

namespace {

// T.81 A.3.3 forward DCT in double precision.
void ReferenceDct(const int16_t* in, double* out) {
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
          sum += in[y * 8 + x] * std::cos((2 * x + 1) * v * M_PI / 16) * std::cos((2 * y + 1) * u * M_PI / 16);
      const double cu = u == 0 ? M_SQRT1_2 : 1, cv = v == 0 ? M_SQRT1_2 : 1;
      out[u * 8 + v] = 0.25 * cu * cv * sum;
    }
}

std::vector<std::vector<int16_t>> TestBlocks() {
  std::vector<std::vector<int16_t>> blocks;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> sample(-128, 127);
  for (int i = 0; i < 2000; ++i) {
    std::vector<int16_t> b(64);
    for (auto& s : b) s = static_cast<int16_t>(sample(random));
    blocks.push_back(b);
  }
  // Extremes: flat, steps, checkerboards and stripes at full swing.
  for (int pattern = 0; pattern < 8; ++pattern) {
    std::vector<int16_t> b(64);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        bool high = false;
        switch (pattern) {
          case 0: high = true; break;
          case 1: high = false; break;
          case 2: high = (x + y) & 1; break;
          case 3: high = x < 4; break;
          case 4: high = y < 4; break;
          case 5: high = x & 1; break;
          case 6: high = (x < 4) != (y < 4); break;
          case 7: high = ((x ^ y) & 2) != 0; break;
        }
        b[y * 8 + x] = static_cast<int16_t>(high ? 127 : -128);
      }
    blocks.push_back(b);
    for (auto& s : b) s = static_cast<int16_t>(s == 127 ? -128 : 127);
    blocks.push_back(b);
  }
  return blocks;
}

}  // namespace

TEST(JpegTransform, ExactDctWithinOneOfDoublePrecision) {
  int worst = 0;
  for (const auto& input : TestBlocks()) {
    int16_t block[64];
    std::copy(input.begin(), input.end(), block);
    ForwardDctExact(block);
    double reference[64];
    ReferenceDct(input.data(), reference);
    for (int i = 0; i < 64; ++i) {
      const int difference = static_cast<int>(std::lround(std::abs(block[i] - reference[i]) + 0.4999));
      worst = std::max(worst, difference);
      ASSERT_LE(std::abs(block[i] - reference[i]), 1.0) << "coefficient " << i << " of " << reference[i];
    }
  }
  EXPECT_LE(worst, 1);
}

TEST(JpegTransform, FlatBlockGivesDcOnly) {
  for (int v : {-128, -1, 0, 55, 127}) {
    int16_t block[64];
    std::fill(block, block + 64, static_cast<int16_t>(v));
    ForwardDctExact(block);
    EXPECT_EQ(block[0], 8 * v);
    EXPECT_TRUE(std::all_of(block + 1, block + 64, [](int16_t c) { return c == 0; })) << v;
  }
}

TEST(JpegTransform, ScaledDctAgreesAfterQuantisation) {
  uint16_t exact[64], scaled[64];
  std::fill(exact, exact + 64, 1);
  std::fill(scaled, scaled + 64, 1);
  PrepareQuantReciprocalsExact(exact);
  JpegPrepareQuantReciprocals(scaled);
  long total = 0, count = 0;
  for (const auto& input : TestBlocks()) {
    int16_t a[64], b[64];
    std::copy(input.begin(), input.end(), a);
    std::copy(input.begin(), input.end(), b);
    ForwardDctExact(a);
    QuantizeBlockU(a, exact);
    ForwardDctAan(b);
    QuantizeBlockS(b, scaled);
    a[63] = static_cast<int16_t>((a[63] * 16384 + 16384) >> 15);  // the scaled method divides by 2 there
    for (int i = 0; i < 64; ++i) {
      ASSERT_LE(std::abs(a[i] - b[i]), 3) << i;
      total += std::abs(a[i] - b[i]);
      ++count;
    }
  }
  EXPECT_LT(static_cast<double>(total) / count, 0.5);
}

TEST(JpegTransform, QuantiserRounding) {
  uint16_t steps[64];
  std::fill(steps, steps + 64, 2);
  PrepareQuantReciprocalsExact(steps);
  int16_t block[64] = {};
  block[0] = -3;
  block[1] = 3;
  block[2] = 7;
  block[3] = -7;
  QuantizeBlockU(block, steps);
  EXPECT_EQ(block[0], -1);
  EXPECT_EQ(block[1], 2);
  EXPECT_EQ(block[2], 4);
  EXPECT_EQ(block[3], -3);

  std::fill(steps, steps + 64, 1);
  PrepareQuantReciprocalsExact(steps);
  int16_t same[64];
  for (int i = 0; i < 64; ++i) same[i] = static_cast<int16_t>(i * 37 - 1024);
  int16_t copy[64];
  std::copy(same, same + 64, copy);
  QuantizeBlockU(copy, steps);
  EXPECT_TRUE(std::equal(same, same + 64, copy)) << "divisor 1 keeps every coefficient";
}
