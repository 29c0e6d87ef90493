// Entropy-coded output: the plain bit writer (one pending byte, free-bit count,
// 8 = empty) with byte stuffing, over the caller's memory or a 4096-byte file
// buffer. A stream is set up and used by one writer family from start to end;
// the SIMD family keeps its bits at the other end of a wider accumulator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dispatch/JpegFile.h"

constexpr size_t kJpegFileBufferSize = 4096;

struct JpegBitWriterFamily;

struct JpegOutputStream {
  uint32_t accumulator;  // plain family: the pending byte, bits enter at the top
  int32_t freeBits;      // plain family: 8 empty, 0 a full byte waits
  uint64_t wideAccumulator;  // SIMD family state
  int32_t pendingBits;
  uint8_t* ptr;
  uint8_t* start;
  uint8_t* end;
  size_t size;
  uint64_t flushedBytes;  // bytes already written to the file
  uint32_t eobRun;
  int file;  // kJpegNoFile for memory output
  const JpegBitWriterFamily* family;
  alignas(32) uint8_t fileBuffer[kJpegFileBufferSize];
};

struct JpegBitWriterFamily {
  void (*init)(JpegOutputStream* stream, uint8_t* memory, size_t size);
  int (*putBits)(JpegOutputStream* stream, uint32_t value, int count);
  int (*putBytes)(const uint8_t* bytes, size_t count, JpegOutputStream* stream);
  int (*finish)(JpegOutputStream* stream);
};

extern const JpegBitWriterFamily kJpegPlainBitWriter;

void JpegInitOutput(JpegOutputStream* stream, uint8_t* memory, size_t size);
int PutBitsToMemory(JpegOutputStream* stream, uint32_t value, int count);
int PutBitsToFile(JpegOutputStream* stream, uint32_t value, int count);
int JpegFlushOutput(JpegOutputStream* stream);
int JpegPutBytes(const uint8_t* bytes, size_t count, JpegOutputStream* stream);
int JpegFinishOutput(JpegOutputStream* stream);

// Bytes of the stream produced so far, stuffing included.
inline uint64_t JpegStreamBytes(const JpegOutputStream* stream) {
  return stream->flushedBytes + static_cast<uint64_t>(stream->ptr - stream->start);
}

// Stores one entropy-coded byte and its stuffing byte after 0xFF. Memory output
// never passes the buffer end; file output writes a full buffer first.
inline int JpegStoreEntropyByte(JpegOutputStream* stream, uint32_t byte) {
  for (int part = 0; part < 2; ++part) {
    if (stream->ptr >= stream->end) {
      if (stream->file == kJpegNoFile) return -28;
      const int result = JpegFlushOutput(stream);
      if (result != 0) return result;
    }
    *stream->ptr++ = static_cast<uint8_t>(part == 0 ? byte : 0);
    if (byte != 0xFF) break;
  }
  return 0;
}

// Appends the low count (0..16) bits of value.
inline int JpegPutBitsPlain(JpegOutputStream* stream, uint32_t value, int count) {
  int freeBits = stream->freeBits;
  if (count <= freeBits) {
    freeBits -= count;
    stream->accumulator |= (value & ((1u << count) - 1u)) << freeBits;
    stream->freeBits = freeBits;
    return 0;
  }
  uint32_t accumulator = stream->accumulator;
  do {
    count -= freeBits;
    const uint32_t byte = accumulator | ((value >> count) & ((1u << freeBits) - 1u));
    const int result = JpegStoreEntropyByte(stream, byte);
    if (result != 0) return result;
    freeBits = 8;
    accumulator = 0;
  } while (count >= 9);
  stream->freeBits = 8 - count;
  stream->accumulator = (value & ((1u << count) - 1u)) << (8 - count);
  return 0;
}
