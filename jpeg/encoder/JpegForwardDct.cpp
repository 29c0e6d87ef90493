// Forward DCT and quantisation of one 8x8 block, in place.
#include <cstdint>

#include "encoder/JpegAanForwardLine.h"
#include "encoder/JpegEncoderKernels.h"

void ForwardDctExact(int16_t* block) {
  // Rows: outputs scaled by 8 relative to the final coefficients' columns.
  for (int row = 0; row < 8; ++row) {
    int16_t* x = block + row * 8;
    const int32_t s07 = x[0] + x[7], s16 = x[1] + x[6], s25 = x[2] + x[5], s34 = x[3] + x[4];
    const int32_t t07 = x[0] - x[7], t16 = x[1] - x[6], t25 = x[2] - x[5], t34 = x[3] - x[4];
    const int32_t e0 = s07 + s34, e1 = s07 - s34, e2 = s16 + s25, e3 = s16 - s25;
    const int32_t a = (46341 * t07 + 2048) >> 12, b = (46341 * t34 + 2048) >> 12;
    const int32_t p = 8 * (t16 + t25), m = 8 * (t16 - t25);
    const int32_t u = a + p, v = b + m, w = a - p, y = b - m;
    x[0] = static_cast<int16_t>(8 * (e0 + e2));
    x[4] = static_cast<int16_t>(8 * (e0 - e2));
    x[2] = static_cast<int16_t>((42813 * e1 + 17734 * e3 + 2048) >> 12);
    x[6] = static_cast<int16_t>((17734 * e1 - 42813 * e3 + 2048) >> 12);
    x[1] = static_cast<int16_t>((4017 * u + 799 * v + 2048) >> 12);
    x[7] = static_cast<int16_t>((799 * u - 4017 * v + 2048) >> 12);
    x[5] = static_cast<int16_t>((2276 * w + 3406 * y + 2048) >> 12);
    x[3] = static_cast<int16_t>((3406 * w - 2276 * y + 2048) >> 12);
  }
  // Columns: the products are formed in 64 bits, so that no input the row
  // pass can produce overflows before the final shift.
  for (int column = 0; column < 8; ++column) {
    int16_t* x = block + column;
    const int64_t s07 = x[0] + x[56], s16 = x[8] + x[48], s25 = x[16] + x[40], s34 = x[24] + x[32];
    const int64_t t07 = x[0] - x[56], t16 = x[8] - x[48], t25 = x[16] - x[40], t34 = x[24] - x[32];
    const int64_t e0 = s07 + s34, e1 = s07 - s34, e2 = s16 + s25, e3 = s16 - s25;
    const int64_t a = (46341 * t07 + 2048) >> 12, b = (46341 * t34 + 2048) >> 12;
    const int64_t p = 8 * (t16 + t25), m = 8 * (t16 - t25);
    const int64_t u = a + p, v = b + m, w = a - p, y = b - m;
    constexpr int64_t kRound = 1 << 20;
    x[0] = static_cast<int16_t>((e0 + e2 + 32) >> 6);
    x[32] = static_cast<int16_t>((e0 - e2 + 32) >> 6);
    x[16] = static_cast<int16_t>((42813 * e1 + 17734 * e3 + kRound) >> 21);
    x[48] = static_cast<int16_t>((17734 * e1 - 42813 * e3 + kRound) >> 21);
    x[8] = static_cast<int16_t>((4017 * u + 799 * v + kRound) >> 21);
    x[56] = static_cast<int16_t>((799 * u - 4017 * v + kRound) >> 21);
    x[40] = static_cast<int16_t>((2276 * w + 3406 * y + kRound) >> 21);
    x[24] = static_cast<int16_t>((3406 * w - 2276 * y + kRound) >> 21);
  }
}

void ForwardDctAan(int16_t* block) {
  // 42813 exceeds the signed 16-bit range, so the row results stay in 32 bits.
  int32_t scratch[64];
  for (int row = 0; row < 8; ++row) JpegAanForwardLine(block + row * 8, scratch + row * 8);
  for (int column = 0; column < 8; ++column) {
    int32_t line[8];
    int32_t out[8];
    for (int i = 0; i < 8; ++i) line[i] = scratch[i * 8 + column];
    JpegAanForwardLine(line, out);
    for (int i = 0; i < 8; ++i) block[i * 8 + column] = static_cast<int16_t>(out[i]);
  }
}

void QuantizeBlockU(int16_t* block, const uint16_t* reciprocals) {
  for (int i = 0; i < 64; ++i)
    block[i] = static_cast<int16_t>((block[i] * static_cast<int32_t>(reciprocals[i]) + 16384) >> 15);
}

void QuantizeBlockS(int16_t* block, const uint16_t* reciprocals) {
  for (int i = 0; i < 64; ++i) {
    const int32_t reciprocal = static_cast<int16_t>(reciprocals[i]);
    block[i] = static_cast<int16_t>((block[i] * reciprocal + 16384) >> 15);
  }
}
