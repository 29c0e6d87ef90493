// The decoder's input layer: a file read through a 4096-byte buffer or the
// caller's memory, marker search and segment bytes.
#include <algorithm>
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
  in->failed = false;
  in->error = 0;
  JpegClearBitState(in);
}

int32_t JpegFillInput(JpegInputStream* in) {
  if (in->file == kJpegNoFile) return JPEG_ERR_FILE;
  if (in->heldAt < in->held.size()) {
    const size_t piece = std::min(in->held.size() - in->heldAt, sizeof(in->buffer));
    std::memcpy(in->buffer, in->held.data() + in->heldAt, piece);
    in->heldAt += piece;
    if (in->heldAt == in->held.size()) {
      in->held.clear();
      in->heldAt = 0;
    }
    in->next = in->buffer;
    in->end = in->buffer + piece;
    return JPEG_SUCCESS;
  }
  if (in->failed) return JPEG_ERR_FILE;
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

void JpegUnreadBytes(JpegInputStream* in, const uint8_t* bytes, size_t count) {
  in->consumed -= count;
  if (in->file == kJpegNoFile) {
    in->next -= count;  // they lie just before it in the caller's memory
    return;
  }
  // The buffer may have been refilled since they were taken: they go in
  // front of the held bytes, with what is left of the buffer.
  std::vector<uint8_t> ahead(bytes, bytes + count);
  ahead.insert(ahead.end(), in->next, in->end);
  ahead.insert(ahead.end(), in->held.begin() + static_cast<ptrdiff_t>(in->heldAt), in->held.end());
  in->held = std::move(ahead);
  in->heldAt = 0;
  in->next = in->end = in->buffer;
}

void JpegKeepUnusedInput(JpegInputStream* in) {
  if (in->file == kJpegNoFile) return;
  // The next read starts from an empty buffer: what is left of this one
  // joins the held bytes, behind the pending marker.
  const uint8_t marker[2] = {0xFF, in->pendingMarker};
  JpegUnreadBytes(in, marker, in->pendingMarker != 0 ? 2 : 0);
  in->pendingMarker = 0;
}

void JpegForgetFileInput(JpegInputStream* in) {
  std::vector<uint8_t>().swap(in->held);
  in->heldAt = 0;
  in->next = in->end = in->buffer;
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

namespace {

// The search for the next marker over successive pieces of the stream; a
// 0xFF at the end of one piece pairs with the first byte of the next.
class MarkerSearch {
 public:
  // The marker's code, or -1 when the piece holds none.
  int Next(const uint8_t* p, const uint8_t* end) {
    for (; p < end; ++p) {
      if (afterFf_) {
        if (*p == 0xFF) continue;
        afterFf_ = false;
        if (JpegIsMarkerCode(*p)) return *p;
        continue;  // stuffing, or a damaged code
      }
      p = static_cast<const uint8_t*>(std::memchr(p, 0xFF, end - p));
      if (p == nullptr) break;
      afterFf_ = true;
    }
    return -1;
  }

 private:
  bool afterFf_ = false;
};

}  // namespace

int JpegPeekMarker(JpegInputStream* in) {
  MarkerSearch search;
  size_t room = kJpegLookAheadLimit;
  const uint8_t* end = in->next + std::min<size_t>(in->end - in->next, room);
  int code = search.Next(in->next, end);
  if (code >= 0) return code;
  if (end < in->end) return -1;
  room -= end - in->next;
  if (in->file == kJpegNoFile) return kJpegEndOfData;
  // Reads on behind the buffer; the bytes looked at are held for the reads
  // to come.
  size_t from = in->heldAt;
  for (;;) {
    const size_t piece = std::min(in->held.size() - from, room);
    code = search.Next(in->held.data() + from, in->held.data() + from + piece);
    if (code >= 0) return code;
    room -= piece;
    if (room == 0) return -1;
    from = in->held.size();
    if (in->failed) return kJpegEndOfData;
    in->held.resize(from + kJpegInputBufferSize);
    size_t got = 0;
    const bool read = JpegFileRead(in->file, in->held.data() + from, kJpegInputBufferSize, &got);
    in->held.resize(from + got);
    // The reads to come meet the failure or the end themselves.
    if (!read || got == 0) return kJpegEndOfData;
  }
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
