// One line of the AAN forward transform, for plain values or vectors of
// 32-bit lanes: the SIMD twin runs the very arithmetic of the plain routine.
#pragma once

// Scaled-transform multiply: x * constant / 32768, rounded.
template <typename T>
inline T JpegAanForwardRound15(T x) {
  return (x + 16384) >> 15;
}

// One line of the Arai-Agui-Nakajima flow graph; outputs in natural order.
template <typename In, typename Out>
inline void JpegAanForwardLine(const In x[8], Out out[8]) {
  const Out tmp0 = x[0] + x[7], tmp7 = x[0] - x[7];
  const Out tmp1 = x[1] + x[6], tmp6 = x[1] - x[6];
  const Out tmp2 = x[2] + x[5], tmp5 = x[2] - x[5];
  const Out tmp3 = x[3] + x[4], tmp4 = x[3] - x[4];

  const Out tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
  const Out tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
  out[0] = tmp10 + tmp11;
  out[4] = tmp10 - tmp11;
  const Out z1 = JpegAanForwardRound15(23170 * (tmp12 + tmp13));
  out[2] = tmp13 + z1;
  out[6] = tmp13 - z1;

  const Out o10 = tmp4 + tmp5, o11 = tmp5 + tmp6, o12 = tmp6 + tmp7;
  const Out z5 = JpegAanForwardRound15(12540 * (o10 - o12));
  const Out z2 = JpegAanForwardRound15(17734 * o10) + z5;
  const Out z4 = JpegAanForwardRound15(42813 * o12) + z5;
  const Out z3 = JpegAanForwardRound15(23170 * o11);
  const Out z11 = tmp7 + z3, z13 = tmp7 - z3;
  out[5] = z13 + z2;
  out[3] = z13 - z2;
  out[1] = z11 + z4;
  out[7] = z11 - z4;
}

