#include "encoder/JpegBitWriter.h"

#include <cstring>

void JpegInitOutput(JpegOutputStream* stream, uint8_t* memory, size_t size) {
  if (stream->file != kJpegNoFile) {
    stream->start = stream->fileBuffer;
    stream->size = kJpegFileBufferSize;
  } else {
    stream->start = memory;
    stream->size = size;
  }
  stream->ptr = stream->start;
  stream->end = stream->start + stream->size;
  stream->flushedBytes = 0;
  stream->accumulator = 0;
  stream->freeBits = 8;
  stream->wideAccumulator = 0;
  stream->pendingBits = 0;
  stream->eobRun = 0;
  stream->family = &kJpegPlainBitWriter;
}

int PutBitsToMemory(JpegOutputStream* stream, uint32_t value, int count) {
  return JpegPutBitsPlain(stream, value, count);
}

int PutBitsToFile(JpegOutputStream* stream, uint32_t value, int count) {
  return JpegPutBitsPlain(stream, value, count);
}

static int WriteBufferedBytes(JpegOutputStream* stream) {
  const size_t count = static_cast<size_t>(stream->ptr - stream->start);
  if (count == 0) return 0;
  size_t done = 0;
  if (!JpegFileWrite(stream->file, stream->start, count, &done) || done != count) return -23;
  stream->flushedBytes += count;
  stream->ptr = stream->start;
  return 0;
}

int JpegFlushOutput(JpegOutputStream* stream) {
  if (stream->file == kJpegNoFile) return -28;
  return WriteBufferedBytes(stream);
}

int JpegPutBytes(const uint8_t* bytes, size_t count, JpegOutputStream* stream) {
  size_t pending = 0;
  uint32_t pendingByte = 0;
  if (stream->freeBits < 8) {
    // T.81: the last partial byte of a segment is padded with 1-bits.
    pendingByte = stream->accumulator | ((1u << stream->freeBits) - 1u);
    pending = pendingByte == 0xFF ? 2 : 1;
  }
  if (stream->file == kJpegNoFile) {
    const size_t room = static_cast<size_t>(stream->end - stream->ptr);
    if (pending + count >= room) return -28;
  }
  if (pending != 0) {
    const int result = JpegStoreEntropyByte(stream, pendingByte);
    if (result != 0) return result;
    stream->accumulator = 0;
    stream->freeBits = 8;
  }
  while (count > 0) {
    if (stream->ptr >= stream->end) {
      const int result = JpegFlushOutput(stream);
      if (result != 0) return result;
    }
    const size_t room = static_cast<size_t>(stream->end - stream->ptr);
    const size_t part = count < room ? count : room;
    std::memcpy(stream->ptr, bytes, part);
    stream->ptr += part;
    bytes += part;
    count -= part;
  }
  return 0;
}

int JpegFinishOutput(JpegOutputStream* stream) {
  const int result = JpegPutBytes(nullptr, 0, stream);
  if (result != 0) return result;
  if (stream->file != kJpegNoFile) return WriteBufferedBytes(stream);
  return 0;
}

const JpegBitWriterFamily kJpegPlainBitWriter = {
    JpegInitOutput,
    [](JpegOutputStream* stream, uint32_t value, int count) { return JpegPutBitsPlain(stream, value, count); },
    JpegPutBytes,
    JpegFinishOutput,
};
