// Sequential Huffman block decoders of the MMX processor types. The unread bits
// sit at the top of the 64-bit accumulator, so a code of up to 8 bits is one
// look-up of the top byte and one shift; the reader refills only when fewer
// bits are held than the next step needs, four bytes at once where none of
// them is 0xFF.
//
// They give the plain decoders' coefficients, predictor and stream position on
// any input: past a marker or the end of the data the reader appends zero bits
// counted as padding (a failed file read ends the data the same way), and a
// block that has run into them ends where the plain decoder ends it. A scan
// decodes with one family only; the scan driver empties the reader between.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include <cstring>

#include "common/JpegTables.h"
#include "decoder/JpegDecoder.h"

namespace {

// What sets the three decoders apart.
template <bool kFastRefill, bool kSplitEntry, bool kBranchFree, bool kStoreCoefficients>
struct Variant {
  static constexpr bool fastRefill = kFastRefill;  // four bytes in one step when none is 0xFF
  static constexpr bool splitEntry = kSplitEntry;  // look-ahead entry read as two 16-bit fields
  static constexpr bool branchFree = kBranchFree;  // value extension by a conditional move
  static constexpr bool storeCoefficients = kStoreCoefficients;
};
using DecodeMmx = Variant<false, false, false, true>;
using DecodeMmxCmov = Variant<true, true, true, true>;
using SkipMmx = Variant<true, true, true, false>;

// The bits a reader holds: unread bits from the most significant end, zeros
// below them. Passed by value, so that the block decoder keeps them in registers.
struct Window {
  uint64_t acc;
  int bits;
};

// Brings the window to at least 32 bits (the fast step) or above 56 bits.
template <class kV>
__attribute__((target("sse2"), noinline)) Window Refill(JpegInputStream* in, Window w) {
  if constexpr (kV::fastRefill) {
    if (in->padBits == 0 && w.bits <= 32 && in->end - in->next >= 4) {
      uint32_t word;
      std::memcpy(&word, in->next, 4);
      const __m128i ff = _mm_cmpeq_epi8(_mm_cvtsi32_si128(static_cast<int>(word)), _mm_set1_epi8(-1));
      if ((_mm_movemask_epi8(ff) & 0xF) == 0) {
        w.acc |= static_cast<uint64_t>(__builtin_bswap32(word)) << (32 - w.bits);
        w.bits += 32;
        in->next += 4;
        in->consumed += 4;
        return w;
      }
    }
  }
  while (w.bits <= 56) {
    int b = -1;
    if (in->padBits == 0) {
      if (in->next < in->end && *in->next != 0xFF) {
        b = *in->next++;
        ++in->consumed;
      } else {
        b = JpegNextDataByte(in);
      }
    }
    if (b < 0) {
      in->padBits += 8;  // zero bits: nothing to merge
    } else {
      w.acc |= static_cast<uint64_t>(b) << (56 - w.bits);
    }
    w.bits += 8;
  }
  return w;
}

// The live reader of one call: loaded at entry, stored back at exit.
struct TopReader {
  JpegInputStream* in;
  Window w;
  template <class kV>
  void Fill() {
    w = Refill<kV>(in, w);
  }
};

// 1 <= n <= 16; the reader holds n bits.
inline void Consume(TopReader& r, int n) {
  r.w.acc <<= n;
  r.w.bits -= n;
}

template <class kV>
inline uint32_t TakeBits(TopReader& r, int n) {
  if (r.w.bits < n) r.Fill<kV>();
  const uint32_t value = static_cast<uint32_t>(r.w.acc >> (64 - n));
  Consume(r, n);
  return value;
}

// Codes longer than 8 bits (T.81 F.2.2.3), with the plain decoder's answer
// for a string that matches no code: symbol 0 after 16 bits.
template <class kV>
int DecodeLongCode(TopReader& r, const JpegHuffmanDecodeTable* table) {
  if (r.w.bits < 16) r.Fill<kV>();
  for (int length = 9; length <= 16; ++length) {
    const int32_t code = static_cast<int32_t>(r.w.acc >> (64 - length));
    if (table->lastCode[length] != 65535 && code <= table->lastCode[length] && code >= table->firstCode[length]) {
      const int index = table->firstIndex[length] + code - table->firstCode[length];
      Consume(r, length);
      return index < kJpegMaxHuffmanValues ? table->values[index] : 0;
    }
  }
  Consume(r, 16);
  return 0;
}

template <class kV>
inline int DecodeSymbol(TopReader& r, const JpegHuffmanDecodeTable* table) {
  if (r.w.bits < 8) r.Fill<kV>();
  const uint32_t* entry = &table->lookAhead[r.w.acc >> 56];
  int length, symbol;
  if constexpr (kV::splitEntry) {
    uint16_t half[2];
    std::memcpy(half, entry, sizeof(half));
    symbol = half[0] & 0xFF;
    length = half[1];
  } else {
    if (*entry <= 0xFFFF) return DecodeLongCode<kV>(r, table);
    symbol = static_cast<int>(*entry & 0xFF);
    length = static_cast<int>(*entry >> 16);
  }
  if (length == 0) return DecodeLongCode<kV>(r, table);
  Consume(r, length);
  return symbol;
}

// The s-bit value extended to its signed form (T.81 F.2.2.1), 1 <= s <= 15.
template <class kV>
inline int32_t ReceiveExtend(TopReader& r, int size) {
  const int32_t value = static_cast<int32_t>(TakeBits<kV>(r, size));
  const int32_t threshold = 1 << (size - 1);
  if constexpr (kV::branchFree) {
    const int32_t offset = 1 - (1 << size);
    return value + (value < threshold ? offset : 0);
  } else {
    if (value < threshold) return value + 1 - (1 << size);
    return value;
  }
}

template <class kV>
inline void DecodeBlockTop(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, const JpegHuffmanDecodeTable* ac,
                           int32_t* lastDc, int16_t* block) {
  TopReader r{in, {in->accumulator, in->bits}};
  if constexpr (kV::storeCoefficients) std::memset(block, 0, 64 * sizeof(int16_t));
  const int dcSize = DecodeSymbol<kV>(r, dc) & 15;
  const int32_t difference = dcSize == 0 ? 0 : ReceiveExtend<kV>(r, dcSize);
  const int16_t value = static_cast<int16_t>(static_cast<uint16_t>(*lastDc + difference));
  *lastDc = value;
  if constexpr (kV::storeCoefficients) block[0] = value;
  // A block that has read padding ends before its next symbol.
  for (int k = 1; k < 64 && r.w.bits >= in->padBits;) {
    const int symbol = DecodeSymbol<kV>(r, ac);
    const int run = symbol >> 4, size = symbol & 15;
    if (size != 0) {
      k += run;
      if (k > 63) break;  // a run past the block in corrupt data
      const int32_t coefficient = ReceiveExtend<kV>(r, size);
      if constexpr (kV::storeCoefficients) block[kJpegZigzag[k]] = static_cast<int16_t>(coefficient);
      ++k;
    } else if (run == 15) {
      k += 16;
    } else {
      break;
    }
  }
  in->accumulator = r.w.acc;
  in->bits = r.w.bits;
}

}  // namespace

int32_t JpegDecodeBlockMmx(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, const JpegHuffmanDecodeTable* ac,
                           int32_t* lastDc, int16_t* block) {
  DecodeBlockTop<DecodeMmx>(in, dc, ac, lastDc, block);
  return JPEG_SUCCESS;
}

int32_t JpegDecodeBlockMmxCmov(JpegInputStream* in, const JpegHuffmanDecodeTable* dc,
                               const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block) {
  DecodeBlockTop<DecodeMmxCmov>(in, dc, ac, lastDc, block);
  return JPEG_SUCCESS;
}

int32_t JpegSkipBlockMmx(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, const JpegHuffmanDecodeTable* ac,
                         int32_t* lastDc, int16_t* /*block*/) {
  DecodeBlockTop<SkipMmx>(in, dc, ac, lastDc, nullptr);
  return JPEG_SUCCESS;
}
#endif
