// Sequential Huffman block coder (T.81 F.1.2).
#include <cstdlib>

#include "common/JpegTables.h"
#include "encoder/JpegEncoderKernels.h"
#include "encoder/JpegHuffmanEncode.h"

namespace {

struct BitLengthTable {
  uint8_t bits[256];
  constexpr BitLengthTable() : bits() {
    for (int i = 1; i < 256; ++i) {
      int n = 0;
      for (int v = i; v != 0; v >>= 1) ++n;
      bits[i] = static_cast<uint8_t>(n);
    }
  }
};

constexpr BitLengthTable kBitLengths;

}  // namespace

int JpegSizeCategory(uint32_t magnitude) {
  if (magnitude < 256) return kBitLengths.bits[magnitude];
  return kBitLengths.bits[(magnitude >> 8) & 0xFF] + 8;
}

int EncodeBlockSequential(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc,
                          const JpegHuffmanCodeTable* ac, int32_t* lastDc, const int16_t* block) {
  const int32_t diff = block[0] - *lastDc;
  *lastDc = block[0];
  const uint32_t magnitude = static_cast<uint32_t>(std::abs(diff));
  const int size = JpegSizeCategory(magnitude);
  if (dc->length[size] == 0) return -6;
  // Negative values are sent as diff - 1 in size bits (ones' complement).
  const uint32_t dcBits = static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << size) - 1u);
  int result = JpegPutBitsPlain(stream, (static_cast<uint32_t>(dc->code[size]) << size) | dcBits,
                                dc->length[size] + size);
  if (result != 0) return result;

  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int32_t c = block[kJpegZigzag[k]];
    if (c == 0) {
      ++run;
      continue;
    }
    while (run > 15) {
      if (ac->length[0xF0] == 0) return -6;
      result = JpegPutBitsPlain(stream, ac->code[0xF0], ac->length[0xF0]);
      if (result != 0) return result;
      run -= 16;
    }
    const int acSize = JpegSizeCategory(static_cast<uint32_t>(std::abs(c)));
    const int symbol = run * 16 + acSize;
    if (ac->length[symbol] == 0) return -6;
    const uint32_t acBits = static_cast<uint32_t>(c < 0 ? c - 1 : c) & ((1u << acSize) - 1u);
    result = JpegPutBitsPlain(stream, (static_cast<uint32_t>(ac->code[symbol]) << acSize) | acBits,
                              ac->length[symbol] + acSize);
    if (result != 0) return result;
    run = 0;
  }
  if (run > 0) {
    if (ac->length[0] == 0) return -6;
    result = JpegPutBitsPlain(stream, ac->code[0], ac->length[0]);
  }
  return result;
}
