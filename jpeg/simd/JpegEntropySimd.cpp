// The wide bit writer and the block encoders that write through it. Up to 64
// pending bits sit at the top of a 64-bit accumulator and leave eight bytes at
// a time; a group holding 0xFF is written byte by byte with its stuffing.
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
#include <emmintrin.h>

#include <cstdlib>

#include "common/JpegTables.h"

namespace {

inline bool HasFfByte(uint64_t bytes) {
  // A byte is 0xFF exactly when its complement is zero.
  const uint64_t inverse = ~bytes;
  return ((inverse - 0x0101010101010101u) & ~inverse & 0x8080808080808080u) != 0;
}

// Writes eight data bytes with their stuffing. Memory output needs room for
// all of them first, so it never passes the buffer's end; a file buffer
// without that room is written out first.
int WriteEightSlow(JpegOutputStream* stream, uint64_t bytes) {
  int needed = 8;
  for (int shift = 56; shift >= 0; shift -= 8) needed += ((bytes >> shift) & 0xFF) == 0xFF;
  if (stream->end - stream->ptr < needed) {
    if (stream->file == kJpegNoFile) return -28;
    const int result = JpegFlushOutput(stream);
    if (result != 0) return result;
  }
  for (int shift = 56; shift >= 0; shift -= 8) {
    const uint8_t byte = static_cast<uint8_t>(bytes >> shift);
    *stream->ptr++ = byte;
    if (byte == 0xFF) *stream->ptr++ = 0;
  }
  return 0;
}

// Appends the low length (1..32) bits of value, which holds no higher bits,
// to a writer state held in the caller's locals. The accumulator fills to 64
// bits and leaves eight bytes at once.
__attribute__((always_inline)) inline int EmitBits(JpegOutputStream* stream, uint8_t* end, uint64_t& accumulator,
                                                   int& count, uint8_t*& ptr, uint32_t value, int length) {
  const int total = count + length;
  if (total <= 64) {
    accumulator |= static_cast<uint64_t>(value) << (64 - total);
    count = total;
    return 0;
  }
  const int rest = total - 64;
  const uint64_t full = accumulator | (value >> rest);
  if (!HasFfByte(full) && end - ptr >= 8) {
    const uint64_t bigEndian = __builtin_bswap64(full);
    __builtin_memcpy(ptr, &bigEndian, 8);
    ptr += 8;
  } else {
    stream->ptr = ptr;
    const int result = WriteEightSlow(stream, full);
    ptr = stream->ptr;
    // A failed write ends the encoding; the full accumulator stays pending.
    if (result != 0) {
      accumulator = full;
      count = 64;
      return result;
    }
  }
  accumulator = static_cast<uint64_t>(value) << (64 - rest);
  count = rest;
  return 0;
}

// The writer's state held in locals while fields are appended: byte stores
// through the output pointer may alias anything, so state kept in the stream
// would be reloaded after every store. Written back on destruction, errors
// included.
class Writer {
 public:
  explicit Writer(JpegOutputStream* stream)
      : stream_(stream), accumulator_(stream->wideAccumulator), count_(stream->pendingBits), ptr_(stream->ptr),
        end_(stream->end) {}
  ~Writer() {
    stream_->wideAccumulator = accumulator_;
    stream_->pendingBits = count_;
    stream_->ptr = ptr_;
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  __attribute__((always_inline)) int Emit(uint32_t value, int length) {
    return EmitBits(stream_, end_, accumulator_, count_, ptr_, value, length);
  }

  // One coded coefficient: the Huffman code and the value bits in one field.
  __attribute__((always_inline)) int Coefficient(const JpegHuffmanCodeTable* table, int run, int32_t value) {
    const uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -value : value);
    const int size = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
    const int symbol = run * 16 + size;
    if (table->length[symbol] == 0) return -6;
    const uint32_t bits = static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1u);
    return Emit((static_cast<uint32_t>(table->code[symbol]) << size) | bits, table->length[symbol] + size);
  }

  __attribute__((always_inline)) int Code(const JpegHuffmanCodeTable* table, int symbol) {
    if (table->length[symbol] == 0) return -6;
    return Emit(table->code[symbol], table->length[symbol]);
  }

 private:
  JpegOutputStream* stream_;
  uint64_t accumulator_;
  int count_;
  uint8_t* ptr_;
  uint8_t* end_;
};

void SimdInitOutput(JpegOutputStream* stream, uint8_t* memory, size_t size) {
  JpegInitOutput(stream, memory, size);
  stream->family = &kJpegSimdBitWriter;
}

int SimdPutBits(JpegOutputStream* stream, uint32_t value, int count) {
  if (count <= 0) return 0;
  Writer writer(stream);
  return writer.Emit(value & static_cast<uint32_t>((uint64_t{1} << count) - 1u), count);
}

// Empties the accumulator into whole bytes, the last one padded with 1-bits,
// then copies the raw bytes unstuffed.
int SimdPutBytes(const uint8_t* bytes, size_t count, JpegOutputStream* stream) {
  const int pendingBytes = (stream->pendingBits + 7) / 8;
  const int bits = stream->pendingBits;
  const uint64_t below = bits >= 64 ? 0 : ~uint64_t{0} >> bits;
  const uint64_t afterLastByte = pendingBytes >= 8 ? 0 : ~uint64_t{0} >> (pendingBytes * 8);
  const uint64_t padded = stream->wideAccumulator | (below & ~afterLastByte);
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
  return mask != 0;
}

namespace {

// The block in zigzag order as the coder needs it: per coefficient its
// magnitude and its value bits (the value, one less when negative, whose low
// `size` bits are what is written), and the mask of non-zero positions.
struct CodedBlock {
  alignas(16) uint16_t magnitude[64];
  alignas(16) uint16_t valueBits[64];
  uint64_t nonZero;
};

__attribute__((target("sse2"))) inline void PrepareBlock(const int16_t* block, CodedBlock* coded) {
  alignas(16) int16_t zigzag[64];
  for (int k = 0; k < 64; ++k) zigzag[k] = block[kJpegZigzag[k]];
  const __m128i zero = _mm_setzero_si128();
  uint64_t mask = 0;
  for (int i = 0; i < 8; ++i) {
    const __m128i values = _mm_load_si128(reinterpret_cast<const __m128i*>(zigzag + 8 * i));
    const __m128i sign = _mm_srai_epi16(values, 15);
    _mm_store_si128(reinterpret_cast<__m128i*>(coded->magnitude + 8 * i),
                    _mm_sub_epi16(_mm_xor_si128(values, sign), sign));
    _mm_store_si128(reinterpret_cast<__m128i*>(coded->valueBits + 8 * i), _mm_add_epi16(values, sign));
    const __m128i isZero = _mm_packs_epi16(_mm_cmpeq_epi16(values, zero), zero);
    mask |= static_cast<uint64_t>(~_mm_movemask_epi8(isZero) & 0xFF) << (8 * i);
  }
  coded->nonZero = mask;
}

}  // namespace

int EncodeBlockFromList(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc, const JpegHuffmanCodeTable* ac,
                        int32_t* lastDc, const int16_t* block) {
  CodedBlock coded;
  PrepareBlock(block, &coded);
  const int32_t diff = block[0] - *lastDc;
  *lastDc = block[0];
  int result;
  {
    Writer writer(stream);
    if ((result = writer.Coefficient(dc, 0, diff)) != 0) return result;
  }
  // The AC loop keeps the writer's state in plain locals rather than in a
  // Writer: the accumulator is carried from one coefficient to the next, and
  // the copy in memory the compiler keeps for an object put a store and a
  // reload on that path (a third of the block's time on noisy pictures).
  uint64_t accumulator = stream->wideAccumulator;
  int count = stream->pendingBits;
  uint8_t* ptr = stream->ptr;
  uint8_t* const end = stream->end;
  auto emit = [&](uint32_t value, int length) __attribute__((always_inline)) {
    return EmitBits(stream, end, accumulator, count, ptr, value, length);
  };
  uint64_t ac64 = coded.nonZero & ~uint64_t{1};
  int previous = 0;
  while (ac64 != 0) {
    const int k = __builtin_ctzll(ac64);
    ac64 &= ac64 - 1;
    int run = k - previous - 1;
    previous = k;
    for (; run > 15; run -= 16) {
      if (ac->length[0xF0] == 0) {
        result = -6;
        break;
      }
      if ((result = emit(ac->code[0xF0], ac->length[0xF0])) != 0) break;
    }
    if (result != 0) break;
    // A 16-bit magnitude has 1 to 16 significant bits.
    const int size = 32 - __builtin_clz(coded.magnitude[k]);
    const int symbol = run * 16 + size;
    const int length = ac->length[symbol];
    if (length == 0) {
      result = -6;
      break;
    }
    const uint32_t bits = coded.valueBits[k] & ((1u << size) - 1u);
    if ((result = emit((static_cast<uint32_t>(ac->code[symbol]) << size) | bits, length + size)) != 0) break;
  }
  if (result == 0 && previous != 63) result = ac->length[0] == 0 ? -6 : emit(ac->code[0], ac->length[0]);
  stream->wideAccumulator = accumulator;
  stream->pendingBits = count;
  stream->ptr = ptr;
  return result;
}

int JpegEncodeBlockMmx(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc, const JpegHuffmanCodeTable* ac,
                       int32_t* lastDc, const int16_t* block) {
  const int32_t diff = block[0] - *lastDc;
  *lastDc = block[0];
  Writer writer(stream);
  int result = writer.Coefficient(dc, 0, diff);
  if (result != 0) return result;
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    const int32_t c = block[kJpegZigzag[k]];
    if (c == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16)
      if ((result = writer.Code(ac, 0xF0)) != 0) return result;
    if ((result = writer.Coefficient(ac, run, c)) != 0) return result;
    run = 0;
  }
  if (run > 0) result = writer.Code(ac, 0x00);
  return result;
}

#endif
