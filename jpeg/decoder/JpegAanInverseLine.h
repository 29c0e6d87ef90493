// One line of the AAN inverse transform on dequantised coefficients, for a
// plain 32-bit value or a vector of 32-bit lanes: the SIMD twin runs the very
// arithmetic of the plain routine.
#pragma once

template <typename T>
inline T JpegAanRound15(T x) {
  return (x + 16384) >> 15;
}

template <typename T>
inline void JpegAanInverseLine(const T x[8], T y[8]) {
  const T z13 = x[5] + x[3], z10 = x[5] - x[3], z11 = x[1] + x[7], z12 = x[1] - x[7];
  const T a = JpegAanRound15(25080 * (z10 - z12));
  const T n7 = -(z11 + z13);
  const T b = JpegAanRound15(35468 * z12) - a + n7;
  const T c = JpegAanRound15(46341 * (z11 - z13)) - b;
  const T d = a - JpegAanRound15(85627 * z10) + c;
  const T e0 = x[0] + x[4], e1 = x[0] - x[4], s = x[2] + x[6], m = JpegAanRound15(46341 * (x[2] - x[6]));
  const T t0 = e0 + s, t3 = e0 - s, t1 = m - s + e1, t2 = e1 + s - m;
  y[0] = t0 - n7;
  y[1] = t1 + b;
  y[2] = t2 + c;
  y[3] = t3 - d;
  y[4] = t3 + d;
  y[5] = t2 - c;
  y[6] = t1 - b;
  y[7] = t0 + n7;
}
