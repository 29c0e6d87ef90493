// The wide bit writer and the block encoders that write through it. Up to 64
// pending bits sit at the top of a 64-bit accumulator and leave four bytes at
// a time; a group holding 0xFF is written byte by byte with its stuffing.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include <cstdlib>

#include "common/JpegTables.h"

namespace {

inline bool HasFfByte(uint32_t group) {
  // A byte is 0xFF exactly when its complement is zero.
  const uint32_t inverse = ~group;
  return ((inverse - 0x01010101u) & ~inverse & 0x80808080u) != 0;
}

// Writes the top 32 bits. Memory output needs room for the group and its
// stuffing first, so it never passes the buffer's end; a full file buffer is
// written out first.
inline int EmitGroup(JpegOutputStream* stream) {
  const uint32_t group = static_cast<uint32_t>(stream->wideAccumulator >> 32);
  if (!HasFfByte(group)) {
    if (stream->end - stream->ptr < 4) {
      if (stream->file == kJpegNoFile) return -28;
      const int result = JpegFlushOutput(stream);
      if (result != 0) return result;
    }
    const uint32_t bigEndian = __builtin_bswap32(group);
    __builtin_memcpy(stream->ptr, &bigEndian, 4);
    stream->ptr += 4;
  } else {
    int needed = 4;
    for (int shift = 24; shift >= 0; shift -= 8) needed += ((group >> shift) & 0xFF) == 0xFF;
    if (stream->end - stream->ptr < needed) {
      if (stream->file == kJpegNoFile) return -28;
      const int result = JpegFlushOutput(stream);
      if (result != 0) return result;
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
      const uint8_t byte = static_cast<uint8_t>(group >> shift);
      *stream->ptr++ = byte;
      if (byte == 0xFF) *stream->ptr++ = 0;
    }
  }
  stream->wideAccumulator <<= 32;
  stream->pendingBits -= 32;
  return 0;
}

// Appends the low length (1..32) bits of value; value holds no higher bits.
// At most 32 bits stay pending on return, so the next field always fits.
inline int EmitBits(JpegOutputStream* stream, uint32_t value, int length) {
  const int count = stream->pendingBits + length;
  stream->wideAccumulator |= static_cast<uint64_t>(value) << (64 - count);
  stream->pendingBits = count;
  if (count < 32) return 0;
  return EmitGroup(stream);
}

void SimdInitOutput(JpegOutputStream* stream, uint8_t* memory, size_t size) {
  JpegInitOutput(stream, memory, size);
  stream->family = &kJpegSimdBitWriter;
}

int SimdPutBits(JpegOutputStream* stream, uint32_t value, int count) {
  if (count <= 0) return 0;
  return EmitBits(stream, value & static_cast<uint32_t>((uint64_t{1} << count) - 1u), count);
}

// Empties the accumulator into whole bytes, the last one padded with 1-bits,
// then copies the raw bytes unstuffed.
int SimdPutBytes(const uint8_t* bytes, size_t count, JpegOutputStream* stream) {
  const int pendingBytes = (stream->pendingBits + 7) / 8;
  // At most 32 bits are pending, so neither shift reaches 64.
  const uint64_t padding = (~uint64_t{0} >> stream->pendingBits) & ~(~uint64_t{0} >> (pendingBytes * 8));
  const uint64_t padded = stream->wideAccumulator | padding;
  if (stream->file == kJpegNoFile) {
    size_t needed = count;
    for (int i = 0; i < pendingBytes; ++i) needed += ((padded >> (56 - 8 * i)) & 0xFF) == 0xFF ? 2 : 1;
    if (needed >= static_cast<size_t>(stream->end - stream->ptr)) return -28;
  }
  for (int i = 0; i < pendingBytes; ++i) {
    const int result = JpegStoreEntropyByte(stream, static_cast<uint32_t>((padded >> (56 - 8 * i)) & 0xFF));
    if (result != 0) return result;
  }
  stream->wideAccumulator = 0;
  stream->pendingBits = 0;
  // The plain writer's own state is empty: it only copies.
  return JpegPutBytes(bytes, count, stream);
}

int SimdFinish(JpegOutputStream* stream) {
  const int result = SimdPutBytes(nullptr, 0, stream);
  if (result != 0) return result;
  return JpegFinishOutput(stream);
}

inline int SizeOf(uint32_t magnitude) { return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude); }

// One coded coefficient: the Huffman code and the value bits in one field.
inline int EmitCoefficient(JpegOutputStream* stream, const JpegHuffmanCodeTable* table, int run, int32_t value) {
  const uint32_t magnitude = static_cast<uint32_t>(std::abs(value));
  const int size = SizeOf(magnitude);
  const int symbol = run * 16 + size;
  if (table->length[symbol] == 0) return -6;
  const uint32_t bits = static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1u);
  return EmitBits(stream, (static_cast<uint32_t>(table->code[symbol]) << size) | bits, table->length[symbol] + size);
}

inline int EmitCode(JpegOutputStream* stream, const JpegHuffmanCodeTable* table, int symbol) {
  if (table->length[symbol] == 0) return -6;
  return EmitBits(stream, table->code[symbol], table->length[symbol]);
}

}  // namespace

const JpegBitWriterFamily kJpegSimdBitWriter = {SimdInitOutput, SimdPutBits, SimdPutBytes, SimdFinish};

__attribute__((target("sse2"))) int JpegScanBlockMmx(const int16_t* block, int16_t* zigzag, uint64_t* nonZero) {
  for (int k = 0; k < 64; ++k) zigzag[k] = block[kJpegZigzag[k]];
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int i = 0; i < 8; ++i) {
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zigzag + 8 * i));
    const __m128i isZero = _mm_packs_epi16(_mm_cmpeq_epi16(values, zero), zero);
    mask |= static_cast<uint64_t>(~_mm_movemask_epi8(isZero) & 0xFF) << (8 * i);
  }
  *nonZero = mask;
  return __builtin_popcountll(mask);
}

int EncodeBlockFromList(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc, const JpegHuffmanCodeTable* ac,
                        int32_t* lastDc, const int16_t* block) {
  int16_t zigzag[64];
  uint64_t nonZero = 0;
  JpegScanBlockMmx(block, zigzag, &nonZero);
  const int32_t diff = block[0] - *lastDc;
  *lastDc = block[0];
  int result = EmitCoefficient(stream, dc, 0, diff);
  if (result != 0) return result;
  uint64_t ac64 = nonZero & ~uint64_t{1};
  int previous = 0;
  while (ac64 != 0) {
    const int k = __builtin_ctzll(ac64);
    ac64 &= ac64 - 1;
    int run = k - previous - 1;
    previous = k;
    for (; run > 15; run -= 16)
      if ((result = EmitCode(stream, ac, 0xF0)) != 0) return result;
    if ((result = EmitCoefficient(stream, ac, run, zigzag[k])) != 0) return result;
  }
  if (previous != 63) result = EmitCode(stream, ac, 0x00);
  return result;
}

int JpegEncodeBlockMmx(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc, const JpegHuffmanCodeTable* ac,
                       int32_t* lastDc, const int16_t* block) {
  const int32_t diff = block[0] - *lastDc;
  *lastDc = block[0];
  int result = EmitCoefficient(stream, dc, 0, diff);
  if (result != 0) return result;
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int32_t c = block[kJpegZigzag[k]];
    if (c == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16)
      if ((result = EmitCode(stream, ac, 0xF0)) != 0) return result;
    if ((result = EmitCoefficient(stream, ac, run, c)) != 0) return result;
    run = 0;
  }
  if (run > 0) result = EmitCode(stream, ac, 0x00);
  return result;
}

#endif
