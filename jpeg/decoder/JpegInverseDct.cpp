// Dequantisation and the inverse transforms of both methods: the exact-scale
// integer transform (method 1) and the AAN fast transform (method 0), each at
// 8x8, 4x4, 2x2 and 1x1 output. Built with wrapping signed arithmetic, so
// coefficients of corrupt data give defined (if meaningless) samples.
#include <cmath>

#include "common/JpegTables.h"
#include "decoder/JpegAanInverseLine.h"
#include "decoder/JpegDecoder.h"

namespace {

inline int16_t Clamp(int32_t v) { return static_cast<int16_t>(v < 0 ? 0 : v > 255 ? 255 : v); }
inline int32_t R15(int32_t x) { return (x + 16384) >> 15; }


// One line of the exact transform; rounding and shift differ between passes.
inline void ExactLine(const int32_t x[8], int32_t rounding, int shift, int32_t y[8]) {
  const int32_t o1 = 32138 * x[1] + 6393 * x[7], o7 = 6393 * x[1] - 32138 * x[7];
  const int32_t o5 = 18205 * x[5] + 27246 * x[3], o3 = 27246 * x[5] - 18205 * x[3];
  const int32_t a = ((o1 + o5 + 2048) >> 12) * 5793, b = ((o7 + o3 + 2048) >> 12) * 5793;
  const int32_t d = o1 - o5, e = o7 - o3, p = d + e, q = d - e;
  const int32_t g0 = (x[0] + x[4]) * 32768, g1 = (x[0] - x[4]) * 32768;
  const int32_t h = 42813 * x[2] + 17734 * x[6], k = 17734 * x[2] - 42813 * x[6];
  const int32_t f0 = g0 + h, f3 = g0 - h, f1 = g1 + k, f2 = g1 - k;
  y[0] = (f0 + a + rounding) >> shift;
  y[7] = (f0 - a + rounding) >> shift;
  y[1] = (f1 + p + rounding) >> shift;
  y[6] = (f1 - p + rounding) >> shift;
  y[2] = (f2 + q + rounding) >> shift;
  y[5] = (f2 - q + rounding) >> shift;
  y[3] = (f3 + b + rounding) >> shift;
  y[4] = (f3 - b + rounding) >> shift;
}



// 4x4 outputs of the exact family from one line (column 4 unused).
inline void Exact4Line(const int32_t x[8], int32_t rounding, int shift, int32_t y[4]) {
  const int32_t t0 = x[0] * 16384, t2 = 15137 * x[2] - 6270 * x[6];
  const int32_t odd0 = 11893 * x[5] - 17799 * x[3] - 1730 * x[7] + 8697 * x[1];
  const int32_t odd2 = -4926 * x[5] + 7373 * x[3] - 4176 * x[7] + 20995 * x[1];
  y[0] = (t0 + t2 + odd2 + rounding) >> shift;
  y[1] = (t0 - t2 + odd0 + rounding) >> shift;
  y[2] = (t0 - t2 - odd0 + rounding) >> shift;
  y[3] = (t0 + t2 - odd2 + rounding) >> shift;
}

inline void Exact2Line(const int32_t x[8], int32_t rounding, int shift, int32_t y[2]) {
  const int32_t t = x[0] * 32768;
  const int32_t odd = -5906 * x[7] + 6967 * x[5] - 10426 * x[3] + 29692 * x[1];
  y[0] = (t + odd + rounding) >> shift;
  y[1] = (t - odd + rounding) >> shift;
}

inline void Aan4Line(const int32_t x[8], int32_t y[4]) {
  const int32_t h = R15(46341 * (x[2] - x[6])) / 2;
  const int32_t p = (-25080 * (x[5] - x[3]) + 60548 * (x[1] - x[7]) + 32768) >> 16;
  const int32_t q = (60547 * (x[5] - x[3]) + 25080 * (x[1] - x[7]) + 32768) >> 16;
  y[0] = x[0] + h + p;
  y[1] = x[0] - h + q;
  y[2] = x[0] - h - q;
  y[3] = x[0] + h - p;
}

inline int32_t Aan2Odd(const int32_t x[8]) {
  return ((x[1] - x[7]) * 85627 + (x[5] - x[3]) * 35468 + 65536) >> 17;
}

inline void LoadColumn(const int16_t* block, int column, int32_t x[8]) {
  for (int i = 0; i < 8; ++i) x[i] = block[i * 8 + column];
}

inline void LoadRow(const int16_t* block, int row, int32_t x[8]) {
  for (int i = 0; i < 8; ++i) x[i] = block[row * 8 + i];
}

inline bool OddZero(const int32_t x[8]) { return (x[1] | x[3] | x[5] | x[7]) == 0; }

// AAN scale factors s(u) * s(v) / 8, s(0) = 1, s(k) = sqrt(2) cos(k pi / 16).
double AanFactor(int natural) {
  auto s = [](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * M_PI / 16.0); };
  return s(natural / 8) * s(natural % 8) / 8.0;
}

}  // namespace

void PrepareDequantTable(const uint16_t zigzag[64], int32_t natural[64]) {
  for (int k = 0; k < 64; ++k) natural[kJpegZigzag[k]] = zigzag[k];
}

void PrepareDequantTableAan(const uint16_t zigzag[64], int32_t natural[64]) {
  // Kept in 32 bits: large steps (quality 5, or 16-bit tables) do not fit 16.
  for (int k = 0; k < 64; ++k) {
    const int n = kJpegZigzag[k];
    natural[n] = static_cast<int32_t>(zigzag[k] * AanFactor(n) * 0.0625 * 32768 + 0.5);
  }
}

void DequantizeBlock(int16_t* block, const int32_t* multipliers) {
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(static_cast<uint16_t>(block[i] * multipliers[i]));
}

void DequantizeBlockAan(int16_t* block, const int32_t* multipliers) {
  for (int i = 0; i < 64; ++i) {
    const int64_t value = (int64_t{block[i]} * multipliers[i] + 64) >> 7;
    block[i] = static_cast<int16_t>(static_cast<uint16_t>(value));
  }
}

void DequantizeDcAan(int16_t* block, const int32_t* multipliers) {
  const int64_t value = (int64_t{block[0]} * multipliers[0] + 64) >> 7;
  block[0] = static_cast<int16_t>(static_cast<uint16_t>(value));
}

void InverseDctExact(int16_t* block) {
  int32_t work[64];
  int32_t x[8];
  for (int row = 0; row < 8; ++row) {
    LoadRow(block, row, x);
    int32_t* y = &work[row * 8];
    if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
      for (int i = 0; i < 8; ++i) y[i] = x[0] * 8;
      continue;
    }
    ExactLine(x, 2048, 12, y);
  }
  int32_t y[8];
  for (int column = 0; column < 8; ++column) {
    for (int i = 0; i < 8; ++i) x[i] = work[i * 8 + column];
    if ((x[1] | x[2] | x[3] | x[4] | x[5] | x[6] | x[7]) == 0) {
      // Same as the full line: only the x0 terms remain.
      const int16_t value = Clamp(((x[0] * 32768 + 1048576) >> 21) + 128);
      for (int i = 0; i < 8; ++i) block[i * 8 + column] = value;
      continue;
    }
    ExactLine(x, 1048576, 21, y);
    for (int i = 0; i < 8; ++i) block[i * 8 + column] = Clamp(y[i] + 128);
  }
}

void InverseDctExact4x4(int16_t* block) {
  int32_t x[8], y[4];
  for (int column = 0; column < 8; ++column) {
    if (column == 4) continue;
    LoadColumn(block, column, x);
    if ((x[1] | x[2] | x[3] | x[5] | x[6] | x[7]) == 0) {
      for (int i = 0; i < 4; ++i) block[i * 8 + column] = static_cast<int16_t>(4 * x[0]);
      continue;
    }
    Exact4Line(x, 2048, 12, y);
    for (int i = 0; i < 4; ++i) block[i * 8 + column] = static_cast<int16_t>(y[i]);
  }
  for (int row = 0; row < 4; ++row) {
    LoadRow(block, row, x);
    int16_t* out = &block[row * 8];
    if ((x[1] | x[2] | x[3] | x[5] | x[6] | x[7]) == 0) {
      const int16_t v = Clamp(((x[0] + 16) >> 5) + 128);
      for (int i = 0; i < 4; ++i) out[i] = v;
      continue;
    }
    Exact4Line(x, 262144, 19, y);
    for (int i = 0; i < 4; ++i) out[i] = Clamp(y[i] + 128);
  }
}

void InverseDctExact2x2(int16_t* block) {
  int32_t x[8], y[2];
  for (int column : {0, 1, 3, 5, 7}) {
    LoadColumn(block, column, x);
    if (OddZero(x)) {
      block[column] = block[8 + column] = static_cast<int16_t>(4 * x[0]);
      continue;
    }
    Exact2Line(x, 4096, 13, y);
    block[column] = static_cast<int16_t>(y[0]);
    block[8 + column] = static_cast<int16_t>(y[1]);
  }
  for (int row = 0; row < 2; ++row) {
    LoadRow(block, row, x);
    int16_t* out = &block[row * 8];
    if (OddZero(x)) {
      out[0] = out[1] = Clamp(((x[0] + 16) >> 5) + 128);
      continue;
    }
    Exact2Line(x, 524288, 20, y);
    out[0] = Clamp(y[0] + 128);
    out[1] = Clamp(y[1] + 128);
  }
}

void InverseDctExact1x1(int16_t* block) { block[0] = Clamp(((block[0] + 4) >> 3) + 128); }

void InverseDctAan(int16_t* block) {
  int32_t x[8], y[8];
  for (int column = 0; column < 8; ++column) {
    LoadColumn(block, column, x);
    JpegAanInverseLine(x, y);
    for (int i = 0; i < 8; ++i) block[i * 8 + column] = static_cast<int16_t>(y[i]);
  }
  for (int row = 0; row < 8; ++row) {
    LoadRow(block, row, x);
    JpegAanInverseLine(x, y);
    for (int i = 0; i < 8; ++i) block[row * 8 + i] = Clamp(((y[i] + 8) >> 4) + 128);
  }
}

void InverseDctAan4x4(int16_t* block) {
  int32_t x[8], y[4];
  for (int column = 0; column < 8; ++column) {
    if (column == 4) continue;
    LoadColumn(block, column, x);
    Aan4Line(x, y);
    for (int i = 0; i < 4; ++i) block[i * 8 + column] = static_cast<int16_t>(y[i]);
  }
  for (int row = 0; row < 4; ++row) {
    LoadRow(block, row, x);
    Aan4Line(x, y);
    for (int i = 0; i < 4; ++i) block[row * 8 + i] = Clamp(((y[i] + 8) >> 4) + 128);
  }
}

void InverseDctAan2x2(int16_t* block) {
  int32_t x[8];
  for (int column : {0, 1, 3, 5, 7}) {
    LoadColumn(block, column, x);
    const int32_t odd = Aan2Odd(x);
    block[column] = static_cast<int16_t>(x[0] + odd);
    block[8 + column] = static_cast<int16_t>(x[0] - odd);
  }
  for (int row = 0; row < 2; ++row) {
    LoadRow(block, row, x);
    const int32_t odd = Aan2Odd(x);
    block[row * 8] = Clamp(((x[0] + odd + 8) >> 4) + 128);
    block[row * 8 + 1] = Clamp(((x[0] - odd + 8) >> 4) + 128);
  }
}

void InverseDctAan1x1(int16_t* block) { block[0] = Clamp(((block[0] + 8) >> 4) + 128); }
