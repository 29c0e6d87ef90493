// The decoder's input layer: a file read through a 4096-byte buffer or the
// caller's memory, marker search and segment bytes.
#include <cstring>

#include "decoder/JpegDecoder.h"

void JpegResetInput(JpegInputStream* in, const JPEG_PROPERTIES* props) {
  if (in->file != kJpegNoFile) {
    in->next = in->end = in->buffer;
  } else {
    in->next = props->jpeg_bytes;
    in->end = props->jpeg_bytes + props->jpeg_size;
  }
  in->consumed = 0;
  in->pendingMarker = 0;
  in->rewind = 0;
  in->failed = false;
  in->error = 0;
  JpegClearBitState(in);
}

int32_t JpegFillInput(JpegInputStream* in) {
  if (in->file == kJpegNoFile || in->failed) return JPEG_ERR_FILE;
  size_t got = 0;
  // A failed read and the end of the file both end the stream: asking again
  // would only repeat the failure.
  if (!JpegFileRead(in->file, in->buffer, sizeof(in->buffer), &got) || got == 0) {
    in->failed = true;
    in->next = in->end = in->buffer;
    return JPEG_ERR_FILE;
  }
  in->next = in->buffer;
  in->end = in->buffer + got;
  return JPEG_SUCCESS;
}

bool JpegReturnUnusedInput(JpegInputStream* in) {
  if (in->file == kJpegNoFile) return true;
  int64_t unused = in->end - in->next;
  if (in->pendingMarker != 0) unused += 2;  // the marker is read again by the next call
  unused += static_cast<int64_t>(in->rewind);
  in->next = in->end = in->buffer;
  in->pendingMarker = 0;
  in->rewind = 0;
  if (unused == 0) return true;
  return JpegFileSeek(in->file, -unused, kJpegSeekCurrent);
}

namespace {

// Makes at least one byte available; memory sources end with -5, files with -23.
int32_t Available(JpegInputStream* in) {
  if (in->next < in->end) return JPEG_SUCCESS;
  if (in->file == kJpegNoFile) return JPEG_ERR_MEMORY;
  return JpegFillInput(in);
}

}  // namespace

int32_t JpegReadMarker(JpegInputStream* in, int* code, uint64_t* skipped) {
  if (in->pendingMarker != 0) {
    *code = in->pendingMarker;
    in->pendingMarker = 0;
    return JPEG_SUCCESS;
  }
  for (;;) {
    int32_t result = Available(in);
    if (result != JPEG_SUCCESS) return result;
    const uint8_t* hit = static_cast<const uint8_t*>(std::memchr(in->next, 0xFF, in->end - in->next));
    if (hit == nullptr) {
      if (skipped != nullptr) *skipped += in->end - in->next;
      in->consumed += in->end - in->next;
      in->next = in->end;
      continue;
    }
    if (skipped != nullptr) *skipped += hit - in->next;
    in->consumed += hit - in->next + 1;
    in->next = hit + 1;
    // Fill bytes and stuffed zeros are passed; anything else is the code.
    for (;;) {
      if (Available(in) != JPEG_SUCCESS) {
        *code = kJpegEndOfData;
        return JPEG_SUCCESS;
      }
      const uint8_t b = *in->next++;
      ++in->consumed;
      if (b == 0xFF) continue;
      if (b == 0x00) {
        if (skipped != nullptr) *skipped += 2;
        break;
      }
      *code = b;
      return JPEG_SUCCESS;
    }
  }
}

int JpegPeekMarker(JpegInputStream* in) {
  // A 0xFF at the end of one piece pairs with the first byte of the next.
  bool afterFf = false;
  auto search = [&afterFf](const uint8_t* p, const uint8_t* end) {
    for (; p < end; ++p) {
      if (afterFf) {
        if (*p == 0xFF) continue;
        afterFf = false;
        if (*p != 0x00) return static_cast<int>(*p);
        continue;
      }
      p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, end - p));
      if (p == nullptr) break;
      afterFf = true;
    }
    return -1;
  };
  int code = search(in->next, in->end);
  if (code >= 0) return code;
  if (in->file == kJpegNoFile || in->failed) return kJpegEndOfData;
  // Read on behind the buffer, then go back to where the buffer ends.
  uint8_t ahead[kJpegInputBufferSize];
  int64_t taken = 0;
  while (code < 0) {
    size_t got = 0;
    if (!JpegFileRead(in->file, ahead, sizeof(ahead), &got) || got == 0) break;
    taken += static_cast<int64_t>(got);
    code = search(ahead, ahead + got);
  }
  if (taken != 0 && !JpegFileSeek(in->file, -taken, kJpegSeekCurrent)) in->failed = true;
  return code >= 0 ? code : kJpegEndOfData;
}

int32_t JpegReadSegment(JpegInputStream* in, size_t length, std::vector<uint8_t>* bytes) {
  bytes->resize(length);
  size_t done = 0;
  while (done < length) {
    if (Available(in) != JPEG_SUCCESS) return JPEG_ERR_DATA;
    const size_t piece = std::min<size_t>(length - done, in->end - in->next);
    std::memcpy(bytes->data() + done, in->next, piece);
    in->next += piece;
    in->consumed += piece;
    done += piece;
  }
  return JPEG_SUCCESS;
}

int32_t JpegSkipBytes(JpegInputStream* in, size_t length) {
  while (length > 0) {
    if (Available(in) != JPEG_SUCCESS) return JPEG_ERR_DATA;
    const size_t piece = std::min<size_t>(length, in->end - in->next);
    in->next += piece;
    in->consumed += piece;
    length -= piece;
  }
  return JPEG_SUCCESS;
}

int32_t JpegReadWord(JpegInputStream* in, int* value) {
  uint8_t bytes[2];
  for (uint8_t& b : bytes) {
    if (Available(in) != JPEG_SUCCESS) return JPEG_ERR_DATA;
    b = *in->next++;
    ++in->consumed;
  }
  *value = bytes[0] << 8 | bytes[1];
  return JPEG_SUCCESS;
}
