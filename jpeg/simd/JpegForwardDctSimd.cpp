// Accurate forward transform on eight rows (then eight columns) at once, in
// 32-bit lanes: the plain routine's arithmetic lane for lane. The plain
// column pass keeps 64-bit products for inputs no level-shifted sample block
// can produce; for sample input the two agree bit for bit.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include "simd/JpegSimdLanes.h"

namespace {

using namespace jpeg_simd;

// One pass over four lines in lanes; Column selects the second pass's scaling.
template <bool Column>
__attribute__((target("sse2"))) inline void Line(const Lanes x[8], Lanes out[8]) {
  const Lanes s07 = x[0] + x[7], s16 = x[1] + x[6], s25 = x[2] + x[5], s34 = x[3] + x[4];
  const Lanes t07 = x[0] - x[7], t16 = x[1] - x[6], t25 = x[2] - x[5], t34 = x[3] - x[4];
  const Lanes e0 = s07 + s34, e1 = s07 - s34, e2 = s16 + s25, e3 = s16 - s25;
  const Lanes a = (46341 * t07 + 2048) >> 12, b = (46341 * t34 + 2048) >> 12;
  const Lanes p = 8 * (t16 + t25), m = 8 * (t16 - t25);
  const Lanes u = a + p, v = b + m, w = a - p, y = b - m;
  constexpr int kShift = Column ? 21 : 12;
  constexpr int kRound = 1 << (kShift - 1);
  if constexpr (Column) {
    out[0] = (e0 + e2 + 32) >> 6;
    out[4] = (e0 - e2 + 32) >> 6;
  } else {
    out[0] = 8 * (e0 + e2);
    out[4] = 8 * (e0 - e2);
  }
  out[2] = (42813 * e1 + 17734 * e3 + kRound) >> kShift;
  out[6] = (17734 * e1 - 42813 * e3 + kRound) >> kShift;
  out[1] = (4017 * u + 799 * v + kRound) >> kShift;
  out[7] = (799 * u - 4017 * v + kRound) >> kShift;
  out[5] = (2276 * w + 3406 * y + kRound) >> kShift;
  out[3] = (3406 * w - 2276 * y + kRound) >> kShift;
}

// Eight lines: each 16-bit row widened to two halves of four lanes, and the
// results narrowed back keeping their low 16 bits, as the plain stores do.
template <bool Column>
__attribute__((target("sse2"))) inline Block16 Pass(const Block16& in) {
  Lanes low[8], high[8], lowOut[8], highOut[8];
  WidenRows(in, low, high);
  Line<Column>(low, lowOut);
  Line<Column>(high, highOut);
  return NarrowRows(lowOut, highOut);
}

}  // namespace

__attribute__((target("sse2"))) void JpegForwardDctSse2(int16_t* block) {
  const Block16 in = LoadBlock(block);
  // Rows first: lanes hold the rows, so the block goes in transposed; the
  // row results come back transposed, which puts the columns in lanes.
  const Block16 columns = Transpose(Pass<false>(Transpose(in)));
  StoreBlock(Pass<true>(columns), block);
}

#endif
