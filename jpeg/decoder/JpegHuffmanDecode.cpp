// Huffman decoding of entropy-coded data (T.81 F.2.2 and G.2): a bit reader
// that removes stuffed zeros and stops at markers, symbol decoding through the
// 8-bit look-ahead table, and the sequential and progressive block decoders.
#include "common/JpegTables.h"
#include "decoder/JpegDecoder.h"

int JpegNextDataByte(JpegInputStream* in) {
  if (in->pendingMarker != 0) return -1;
  if (in->next >= in->end && (in->file == kJpegNoFile || JpegFillInput(in) != JPEG_SUCCESS)) return -1;
  const uint8_t b = *in->next++;
  ++in->consumed;
  if (b != 0xFF) return b;
  for (;;) {
    if (in->next >= in->end) {
      // Memory input cannot end inside a marker: the data is damaged.
      if (in->file == kJpegNoFile) {
        in->error = JPEG_ERR_DATA;
        return -1;
      }
      if (JpegFillInput(in) != JPEG_SUCCESS) return -1;
    }
    const uint8_t after = *in->next++;
    ++in->consumed;
    if (after == 0x00) return 0xFF;
    if (after != 0xFF) {
      in->pendingMarker = after;
      return -1;
    }
  }
}

namespace {

// Brings the accumulator above 56 bits. Past a marker or the end of the data
// zero bits are appended and counted, so that a decoder that runs into them
// ends its block instead of reading on.
void FillBits(JpegInputStream* in) {
  while (in->bits <= 56) {
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
      b = 0;
      in->padBits += 8;
    }
    in->accumulator = in->accumulator << 8 | static_cast<uint64_t>(b);
    in->bits += 8;
  }
}

inline bool Exhausted(const JpegInputStream* in) { return JpegInputExhausted(in); }

inline uint32_t PeekBits(const JpegInputStream* in, int n) {
  return static_cast<uint32_t>(in->accumulator >> (in->bits - n)) & ((1u << n) - 1);
}

// Callers hold at least n bits.
inline uint32_t TakeBits(JpegInputStream* in, int n) {
  in->bits -= n;
  return static_cast<uint32_t>(in->accumulator >> in->bits) & ((1u << n) - 1);
}

inline uint32_t GetBits(JpegInputStream* in, int n) {
  if (in->bits < n) FillBits(in);
  return TakeBits(in, n);
}

inline int32_t Extend(uint32_t value, int size) {
  return value < (1u << (size - 1)) ? static_cast<int32_t>(value) - static_cast<int32_t>((1u << size) - 1)
                                    : static_cast<int32_t>(value);
}

int DecodeHuffmanSlow(JpegInputStream* in, const JpegHuffmanDecodeTable* table, int length) {
  int32_t code = static_cast<int32_t>(PeekBits(in, length));
  for (; length <= 16; ++length) {
    if (table->lastCode[length] != 65535 && code <= table->lastCode[length] &&
        code >= table->firstCode[length]) {
      const int index = table->firstIndex[length] + code - table->firstCode[length];
      in->bits -= length;
      return index < kJpegMaxHuffmanValues ? table->values[index] : 0;
    }
    if (length < 16) code = static_cast<int32_t>(PeekBits(in, length + 1));
  }
  // No code of up to 16 bits matches: corrupt data decodes as symbol 0.
  in->bits -= 16;
  return 0;
}

// Leaves at least 16 bits behind the symbol for its value bits.
inline int DecodeHuffmanSymbol(JpegInputStream* in, const JpegHuffmanDecodeTable* table) {
  if (in->bits < 32) FillBits(in);
  const uint32_t entry = table->lookAhead[PeekBits(in, 8)];
  if (entry != 0) {
    in->bits -= static_cast<int>(entry >> 16);
    return static_cast<int>(entry & 0xFF);
  }
  return DecodeHuffmanSlow(in, table, 9);
}

inline int16_t Wrap16(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value)); }

inline int32_t DecodeDcDifference(JpegInputStream* in, const JpegHuffmanDecodeTable* dc) {
  const int size = DecodeHuffmanSymbol(in, dc) & 15;
  return size == 0 ? 0 : Extend(TakeBits(in, size), size);
}

}  // namespace

void JpegClearBitState(JpegInputStream* in) {
  in->accumulator = 0;
  in->bits = 0;
  in->padBits = 0;
  in->eobRun = 0;
}

namespace {

// A sequential block; without kStoreAc the AC coefficients are read and dropped.
template <bool kStoreAc>
int32_t DecodeBlock(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, const JpegHuffmanDecodeTable* ac,
                    int32_t* lastDc, int16_t* block) {
  if constexpr (kStoreAc)
    for (int i = 0; i < 64; ++i) block[i] = 0;
  const int16_t value = Wrap16(*lastDc + DecodeDcDifference(in, dc));
  *lastDc = value;
  block[0] = value;
  for (int k = 1; k < 64 && !Exhausted(in);) {
    const int symbol = DecodeHuffmanSymbol(in, ac);
    const int run = symbol >> 4, size = symbol & 15;
    if (size != 0) {
      k += run;
      if (k > 63) break;  // a run past the block in corrupt data
      const int32_t coefficient = Extend(TakeBits(in, size), size);
      if constexpr (kStoreAc) block[kJpegZigzag[k]] = static_cast<int16_t>(coefficient);
      ++k;
    } else if (run == 15) {
      k += 16;
    } else {
      break;
    }
  }
  return JPEG_SUCCESS;
}

}  // namespace

int32_t DecodeBlockSequential(JpegInputStream* in, const JpegHuffmanDecodeTable* dc,
                              const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block) {
  return DecodeBlock<true>(in, dc, ac, lastDc, block);
}

int32_t DecodeBlockDcOnly(JpegInputStream* in, const JpegHuffmanDecodeTable* dc,
                          const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block) {
  return DecodeBlock<false>(in, dc, ac, lastDc, block);
}

int32_t DecodeDcFirst(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, int16_t* block, int32_t* lastDc,
                      int al) {
  const int16_t value = Wrap16(*lastDc + DecodeDcDifference(in, dc));
  *lastDc = value;
  block[0] = Wrap16(value * (1 << al));
  return JPEG_SUCCESS;
}

int32_t DecodeDcRefine(JpegInputStream* in, int16_t* block, int al) {
  if (GetBits(in, 1) != 0) block[0] = static_cast<int16_t>(block[0] | (1 << al));
  return JPEG_SUCCESS;
}

int32_t DecodeAcFirst(JpegInputStream* in, int16_t* block, const JpegHuffmanDecodeTable* ac, int ss, int se,
                      int al) {
  if (in->eobRun > 0) {
    --in->eobRun;
    return JPEG_SUCCESS;
  }
  for (int k = ss; k <= se && !Exhausted(in); ++k) {
    const int symbol = DecodeHuffmanSymbol(in, ac);
    const int run = symbol >> 4, size = symbol & 15;
    if (size != 0) {
      k += run;
      if (k > se) break;
      block[kJpegZigzag[k]] = Wrap16(Extend(TakeBits(in, size), size) * (1 << al));
    } else if (run == 15) {
      k += 15;
    } else {
      in->eobRun = 1u << run;
      if (run != 0) in->eobRun += TakeBits(in, run);
      --in->eobRun;
      break;
    }
  }
  return JPEG_SUCCESS;
}

int32_t DecodeAcRefine(JpegInputStream* in, int16_t* block, const JpegHuffmanDecodeTable* ac, int ss, int se,
                       int al) {
  const int p1 = 1 << al;
  const int m1 = -p1;
  auto refine = [&](int16_t* coefficient) {
    if (GetBits(in, 1) != 0 && (*coefficient & p1) == 0)
      *coefficient = Wrap16(*coefficient + (*coefficient >= 0 ? p1 : m1));
  };
  int k = ss;
  if (in->eobRun == 0) {
    for (; k <= se && !Exhausted(in); ++k) {
      const int symbol = DecodeHuffmanSymbol(in, ac);
      int run = symbol >> 4;
      int value = 0;
      if ((symbol & 15) != 0) {
        value = TakeBits(in, 1) != 0 ? p1 : m1;
      } else if (run != 15) {
        in->eobRun = 1u << run;
        if (run != 0) in->eobRun += TakeBits(in, run);
        break;
      }
      // Passes already non-zero coefficients (refining them) and run zero ones.
      for (; k <= se; ++k) {
        int16_t* coefficient = &block[kJpegZigzag[k]];
        if (*coefficient != 0) {
          refine(coefficient);
        } else if (--run < 0) {
          break;
        }
      }
      if (value != 0 && k <= se) block[kJpegZigzag[k]] = static_cast<int16_t>(value);
    }
  }
  if (in->eobRun > 0) {
    for (; k <= se; ++k) {
      int16_t* coefficient = &block[kJpegZigzag[k]];
      if (*coefficient != 0) refine(coefficient);
    }
    --in->eobRun;
  }
  return JPEG_SUCCESS;
}
