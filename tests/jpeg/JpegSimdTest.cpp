// The SIMD twins against their plain routines and against scalar models of
// their own arithmetic, on many random blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "decoder/JpegDecoder.h"
#include "encoder/JpegEncoderKernels.h"
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
namespace {

using Block = int16_t[64];

int16_t Sat(int32_t v) { return static_cast<int16_t>(std::clamp(v, -32768, 32767)); }
int16_t Add(int16_t a, int16_t b) { return Sat(a + b); }
int16_t Sub(int16_t a, int16_t b) { return Sat(a - b); }
int16_t MulHigh(int16_t a, int16_t b) { return static_cast<int16_t>((int32_t{a} * b) >> 16); }
int16_t Wrap16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
int32_t Wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }

// The kernels' inverse transform, one value at a time.
void ModelIdct(int16_t* block) {
  static const int c[4][8] = {{0, 22725, 21407, 19266, 16384, 12873, 8867, 4520},
                              {0, 31521, 29692, 26722, 22725, 17855, 12299, 6270},
                              {0, 29692, 27969, 25172, 21407, 16819, 11585, 5906},
                              {0, 26722, 25172, 22654, 19266, 15137, 10426, 5315}};
  static const int group[8] = {0, 1, 2, 3, 0, 3, 2, 1};
  for (int r = 0; r < 8; ++r) {
    const int* k = c[group[r]];
    int64_t x[8];
    for (int i = 0; i < 8; ++i) x[i] = block[8 * r + i];
    const int32_t e[4] = {Wrap32(k[4] * x[0] + k[4] * x[4] + k[2] * x[2] + k[6] * x[6] + 2048),
                          Wrap32(k[4] * x[0] - k[4] * x[4] + k[6] * x[2] - k[2] * x[6] + 2048),
                          Wrap32(k[4] * x[0] - k[4] * x[4] - k[6] * x[2] + k[2] * x[6] + 2048),
                          Wrap32(k[4] * x[0] + k[4] * x[4] - k[2] * x[2] - k[6] * x[6] + 2048)};
    const int32_t o[4] = {Wrap32(k[1] * x[1] + k[3] * x[3] + k[5] * x[5] + k[7] * x[7]),
                          Wrap32(k[3] * x[1] - k[7] * x[3] - k[1] * x[5] - k[5] * x[7]),
                          Wrap32(k[5] * x[1] - k[1] * x[3] + k[7] * x[5] + k[3] * x[7]),
                          Wrap32(k[7] * x[1] - k[5] * x[3] + k[3] * x[5] - k[1] * x[7])};
    for (int i = 0; i < 4; ++i) {
      block[8 * r + i] = Sat(Wrap32(int64_t{e[i]} + o[i]) >> 12);
      block[8 * r + 7 - i] = Sat(Wrap32(int64_t{e[i]} - o[i]) >> 12);
    }
  }
  for (int col = 0; col < 8; ++col) {
    int16_t X[8];
    for (int r = 0; r < 8; ++r) X[r] = block[8 * r + col];
    const int16_t u3 = Add(MulHigh(X[3], -21746), X[3]), u5 = Add(MulHigh(X[5], -21746), X[5]);
    const int16_t ta = Add(u5, X[3]), tb = Sub(X[5], u3);
    const int16_t v7 = Add(MulHigh(X[7], 13036), X[1]), v1 = Sub(MulHigh(X[1], 13036), X[7]);
    const int16_t w6 = Add(MulHigh(X[6], 27146), X[2]), w2 = Sub(MulHigh(X[2], 27146), X[6]);
    const int16_t b0 = Add(Add(v7, ta), 1), p = Sub(v7, ta), b3 = Add(v1, tb), q = Add(Sub(v1, tb), 1);
    const int16_t s = Add(p, q), d = Sub(p, q);
    const int16_t b1 = Add(s, MulHigh(s, -19195)) | 1, b2 = Add(d, MulHigh(d, -19195)) | 1;
    const int16_t s04 = Add(X[0], X[4]), d04 = Sub(X[0], X[4]);
    const int16_t e0 = Add(Add(s04, w6), 16), e3 = Add(Sub(s04, w6), 15);
    const int16_t e1 = Add(Add(d04, w2), 16), e2 = Add(Sub(d04, w2), 15);
    const int16_t Z[8] = {Add(e0, b0), Add(e1, b1), Add(e2, b2), Add(e3, b3),
                          Sub(e3, b3), Sub(e2, b2), Sub(e1, b1), Sub(e0, b0)};
    for (int k = 0; k < 8; ++k) block[8 * k + col] = static_cast<int16_t>(std::clamp<int>(Add(static_cast<int16_t>(Z[k] >> 5), 128), 0, 255));
  }
}

TEST(JpegSimd, InverseTransformFollowsItsModelOnAMillionBlocksAtAnyAlignment) {
  std::mt19937 rng(20);
  alignas(16) int16_t storage[64 + 16];
  for (int n = 0; n < 1000000; ++n) {
    // Mostly what baseline data produces; every eighth block saturates.
    const int range = n % 8 == 0 ? 32767 : (n % 8 == 1 ? 4000 : 1024);
    std::uniform_int_distribution<int> value(-range - (range == 32767), range);
    const int sparse = static_cast<int>(rng() % 4);
    int16_t* block = storage + n % 9;  // every 2-byte offset within 16 bytes and beyond
    Block model;
    for (int i = 0; i < 64; ++i) {
      const bool keep = sparse == 0 || rng() % (4 << sparse) == 0 || i == 0;
      model[i] = block[i] = keep ? static_cast<int16_t>(value(rng)) : 0;
    }
    ModelIdct(model);
    JpegIdctSse2(block);
    ASSERT_EQ(0, std::memcmp(model, block, sizeof(model))) << "block " << n;
  }
}

TEST(JpegSimd, InverseTransformOfFlatBlocks) {
  struct Case {
    int dc;
    int upper;  // rows 0, 1 and 5
    int lower;  // the other rows
  };
  for (const Case& c : {Case{0, 128, 128}, Case{4, 129, 128}, Case{100, 141, 140}, Case{8, 129, 129},
                        Case{15, 130, 130}, Case{16, 130, 130}, Case{17, 130, 130}, Case{-512, 64, 64},
                        Case{1016, 255, 255}, Case{-1024, 0, 0}}) {
    Block block = {};
    block[0] = static_cast<int16_t>(c.dc);
    JpegIdctSse2(block);
    for (int i = 0; i < 64; ++i) {
      const int row = i / 8;
      const int expected = row == 0 || row == 1 || row == 5 ? c.upper : c.lower;
      ASSERT_EQ(block[i], expected) << "dc " << c.dc << " sample " << i;
    }
  }
}

TEST(JpegSimd, InverseTransformStaysWithinOneOfThePlainOneOnPictureData) {
  std::mt19937 rng(7);
  int differing = 0;
  constexpr int kBlocks = 20000;
  for (int n = 0; n < kBlocks; ++n) {
    // Coefficients as a picture gives them: a smooth or noisy block through
    // the plain forward transform, quantised and dequantised.
    Block pixels;
    const int noise = 1 + static_cast<int>(rng() % 128);
    const int base = static_cast<int>(rng() % 256);
    for (int i = 0; i < 64; ++i)
      pixels[i] = static_cast<int16_t>(std::clamp(base + (i % 8) * 3 + static_cast<int>(rng() % noise) - noise / 2, 0, 255) - 128);
    ForwardDctExact(pixels);
    const int step = 1 + static_cast<int>(rng() % 16);
    Block plain, simd;
    for (int i = 0; i < 64; ++i) plain[i] = simd[i] = static_cast<int16_t>(pixels[i] / step * step);
    InverseDctExact(plain);
    JpegIdctSse2(simd);
    for (int i = 0; i < 64; ++i) {
      ASSERT_LE(std::abs(plain[i] - simd[i]), 1) << "block " << n << " sample " << i;
      differing += plain[i] != simd[i];
    }
  }
  EXPECT_LT(differing, kBlocks * 64 / 4);
}

TEST(JpegSimd, DequantisationWrapsExactlyAsThePlainRoutine) {
  std::mt19937 rng(3);
  alignas(16) int16_t storage[64 + 8];
  alignas(16) int32_t tableStorage[64 + 4];
  for (int n = 0; n < 20000; ++n) {
    int16_t* block = storage + n % 8;
    int32_t* table = tableStorage + n % 4;
    Block plain;
    for (int i = 0; i < 64; ++i) {
      plain[i] = block[i] = static_cast<int16_t>(rng());
      table[i] = n % 2 ? static_cast<int32_t>(rng() % 65536) : static_cast<int32_t>(1 + rng() % 255);
    }
    Block mmx;
    std::memcpy(mmx, block, sizeof(mmx));
    DequantizeBlock(plain, table);
    JpegDequantMmx(mmx, table);
    JpegDequantSse2(block, table);
    JpegEndKernelsMmx();
    ASSERT_EQ(0, std::memcmp(plain, block, sizeof(plain))) << n;
    ASSERT_EQ(0, std::memcmp(plain, mmx, sizeof(plain))) << n;
  }
}

// The SIMD quantisers round from the high half of a doubled product.
int16_t ModelQuantizeExact(int16_t x, uint16_t r) {
  return static_cast<int16_t>((MulHigh(Wrap16(x * 8), static_cast<int16_t>(r >> 1)) + 1) >> 1);
}
int16_t ModelQuantizeFast(int16_t x, uint16_t r) {
  const int16_t clamped = static_cast<int16_t>(std::clamp<int>(x, -8192, 8191));
  return static_cast<int16_t>((MulHigh(static_cast<int16_t>(clamped * 4), static_cast<int16_t>(r)) + 1) >> 1);
}

TEST(JpegSimd, QuantisersFollowTheirModelAndStayWithinOneOfThePlainOnes) {
  std::mt19937 rng(11);
  alignas(16) int16_t storage[64 + 8];
  alignas(16) uint16_t reciprocalStorage[64 + 8];
  for (int n = 0; n < 20000; ++n) {
    int16_t* block = storage + n % 8;
    uint16_t* reciprocals = reciprocalStorage + (n / 8) % 8;
    const bool fast = n % 2 == 1;
    Block input;
    for (int i = 0; i < 64; ++i) {
      input[i] = static_cast<int16_t>(static_cast<int>(rng() % 16384) - 8192);
      // Exact: 32768 / step; fast: signed, the transform's scale folded in.
      reciprocals[i] = fast ? static_cast<uint16_t>(rng() % 32768) : static_cast<uint16_t>(32768 / (1 + rng() % 255));
    }
    Block plain, mmx;
    std::memcpy(plain, input, sizeof(plain));
    std::memcpy(mmx, input, sizeof(mmx));
    std::memcpy(block, input, sizeof(input));
    if (fast) {
      QuantizeBlockS(plain, reciprocals);
      JpegQuantizeFastMmx(mmx, reciprocals);
    } else {
      QuantizeBlockU(plain, reciprocals);
      JpegQuantizeMmx(mmx, reciprocals);
      JpegQuantizeSse2(block, reciprocals);
    }
    JpegEndKernelsMmx();
    for (int i = 0; i < 64; ++i) {
      const int16_t model = fast ? ModelQuantizeFast(input[i], reciprocals[i]) : ModelQuantizeExact(input[i], reciprocals[i]);
      ASSERT_EQ(mmx[i], model) << n << " " << i;
      if (!fast) {
        ASSERT_EQ(block[i], model) << n << " " << i;
      }
      if (std::abs(input[i]) < 4096) {  // beyond, the shifted input wraps (exact) or clamps (fast)
        ASSERT_LE(std::abs(plain[i] - mmx[i]), 1) << n << " " << i;
      }
    }
  }
}

TEST(JpegSimd, QuantiserEdgeCases) {
  // The fast quantiser clamps its input: 9000 comes out as 8191 would.
  Block big, clamped;
  uint16_t reciprocals[64];
  for (int i = 0; i < 64; ++i) {
    big[i] = 9000;
    clamped[i] = 8191;
    reciprocals[i] = static_cast<uint16_t>(1000 + i * 300);
  }
  JpegQuantizeFastMmx(big, reciprocals);
  JpegQuantizeFastMmx(clamped, reciprocals);
  JpegEndKernelsMmx();
  EXPECT_EQ(0, std::memcmp(big, clamped, sizeof(big)));

  // A step of 1 (reciprocal 32768) passes every coefficient of the exact
  // transform's range unchanged, and zero stays zero everywhere.
  std::mt19937 rng(5);
  Block block, mmx, zero = {}, zeroFast = {};
  uint16_t ones[64];
  for (int i = 0; i < 64; ++i) {
    ones[i] = 32768;
    mmx[i] = block[i] = static_cast<int16_t>(static_cast<int>(rng() % 8191) - 4095);
  }
  Block input;
  std::memcpy(input, block, sizeof(input));
  JpegQuantizeSse2(block, ones);
  JpegQuantizeMmx(mmx, ones);
  JpegQuantizeSse2(zero, reciprocals);
  JpegQuantizeFastMmx(zeroFast, reciprocals);
  JpegEndKernelsMmx();
  EXPECT_EQ(0, std::memcmp(block, input, sizeof(input)));
  EXPECT_EQ(0, std::memcmp(mmx, input, sizeof(input)));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(zero[i] | zeroFast[i], 0);
}

}  // namespace
#endif

#ifdef VYR_JPEG_HAVE_SIMD
TEST(JpegSimd, ForwardTransformEqualsThePlainOneOnSampleBlocks) {
  std::mt19937 rng(152);
  alignas(16) int16_t storage[64 + 8];
  for (int n = 0; n < 200000; ++n) {
    int16_t* block = storage + n % 8;
    int16_t plain[64];
    const int mode = n % 4;
    for (int i = 0; i < 64; ++i) {
      // Random samples, and the extremes in random and alternating patterns
      // that drive the transform's intermediates furthest.
      const int extreme = (rng() % 2) ? 127 : -128;
      const int alternating = ((i / 8 + i % 8 + n) % 2) ? 127 : -128;
      const int value = mode == 0 ? static_cast<int>(rng() % 256) - 128 : mode == 1 ? extreme
                      : mode == 2 ? alternating : ((i % 8) < 4 ? 127 : -128) * ((i / 8) < 4 ? 1 : -1) - (n % 2);
      plain[i] = block[i] = static_cast<int16_t>(std::clamp(value, -128, 127));
    }
    ForwardDctExact(plain);
    JpegForwardDctSse2(block);
    ASSERT_EQ(0, std::memcmp(plain, block, sizeof(plain))) << "block " << n;
  }
  int16_t zero[64] = {};
  JpegForwardDctSse2(zero);
  for (int16_t v : zero) EXPECT_EQ(v, 0);
}
#endif

#ifdef VYR_JPEG_HAVE_SIMD
TEST(JpegSimd, FastInverseTransformGivesThePlainSamples) {
  std::mt19937 rng(160);
  alignas(16) int16_t storage[64 + 8];
  for (int n = 0; n < 200000; ++n) {
    int16_t* block = storage + n % 8;
    int16_t plain[64];
    // Dequantised coefficients at the fast transform's scale, sparse and
    // dense, and the full 16-bit range that corrupt data can bring.
    const int range = n % 4 == 0 ? 32767 : 4096;
    const int sparse = static_cast<int>(rng() % 4);
    for (int i = 0; i < 64; ++i) {
      const bool keep = sparse == 0 || rng() % (4 << sparse) == 0 || i == 0;
      plain[i] = block[i] = keep ? static_cast<int16_t>(static_cast<int>(rng() % (2 * range + 1)) - range) : 0;
    }
    InverseDctAan(plain);
    JpegInverseDctFastMmx(block);
    ASSERT_EQ(0, std::memcmp(plain, block, sizeof(plain))) << "block " << n;
  }
  // Large DC alone: 255 or 0 everywhere; nothing: 128 everywhere.
  for (const int dc : {32000, -32000, 0}) {
    int16_t flat[64] = {};
    flat[0] = static_cast<int16_t>(dc);
    JpegInverseDctFastMmx(flat);
    for (int16_t v : flat) ASSERT_EQ(v, dc > 0 ? 255 : dc < 0 ? 0 : 128);
  }
}
#endif

#ifdef VYR_JPEG_HAVE_SIMD
TEST(JpegSimd, FastForwardTransformGivesThePlainCoefficients) {
  std::mt19937 rng(1520);
  alignas(16) int16_t storage[64 + 8];
  for (int n = 0; n < 200000; ++n) {
    int16_t* block = storage + n % 8;
    int16_t plain[64];
    for (int i = 0; i < 64; ++i) {
      const int extreme = (rng() % 2) ? 127 : -128;
      plain[i] = block[i] = static_cast<int16_t>(n % 2 ? extreme : static_cast<int>(rng() % 256) - 128);
    }
    ForwardDctAan(plain);
    JpegForwardDctMmx(block);
    ASSERT_EQ(0, std::memcmp(plain, block, sizeof(plain))) << "block " << n;
  }
}
#endif
