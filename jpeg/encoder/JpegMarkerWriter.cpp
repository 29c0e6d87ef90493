// Marker segments of the encoder. Each is assembled in a local buffer and
// handed whole to the stream's writer, which first completes any partly
// filled entropy-coded byte.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "encoder/JpegEncoder.h"

namespace {

constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9, kAPP0 = 0xE0, kAPP14 = 0xEE, kCOM = 0xFE, kDQT = 0xDB,
                  kDHT = 0xC4, kSOF0 = 0xC0, kSOF2 = 0xC2, kDRI = 0xDD, kSOS = 0xDA, kRST0 = 0xD0;
constexpr size_t kMaxCommentBytes = 65531;
constexpr size_t kMaxProgressiveDhtLength = 324;
constexpr char kDefaultCommentFormat[] = "Vyrdax JPEG Codec, version %s";

class Segment {
 public:
  void PutByte2(uint8_t marker) {
    PutByte(0xFF);
    PutByte(marker);
  }
  void PutWord(uint32_t word) {
    PutByte(static_cast<uint8_t>(word >> 8));
    PutByte(static_cast<uint8_t>(word));
  }
  void PutByte(uint8_t byte) { bytes_[size_++] = byte; }
  void PutBytes(const void* data, size_t count) {
    std::memcpy(bytes_ + size_, data, count);
    size_ += count;
  }
  int32_t Send(JpegOutputStream* stream) const { return stream->family->putBytes(bytes_, size_, stream); }

 private:
  uint8_t bytes_[1200];  // the largest fixed segment is a full DHT of four 256-value tables
  size_t size_ = 0;
};

}  // namespace

int32_t JpegWriteMarker(JpegOutputStream* stream, uint8_t code) {
  Segment s;
  s.PutByte2(code);
  return s.Send(stream);
}

int32_t JpegWriteAPP0(JpegOutputStream* stream, const JPEG_PROPERTIES* props) {
  Segment s;
  s.PutByte2(kAPP0);
  s.PutWord(16);
  s.PutBytes("JFIF", 5);
  s.PutWord(props->jfif_version);
  s.PutByte(props->jfif_units);
  s.PutWord(props->jfif_x_density);
  s.PutWord(props->jfif_y_density);
  s.PutByte(0);
  s.PutByte(0);
  return s.Send(stream);
}

int32_t JpegWriteAPP14(JpegOutputStream* stream, const JPEG_PROPERTIES* props, uint8_t transform) {
  Segment s;
  s.PutByte2(kAPP14);
  s.PutWord(14);
  s.PutBytes("Adobe", 5);
  s.PutWord(props->adobe_version);
  s.PutWord(props->adobe_flags0);
  s.PutWord(props->adobe_flags1);
  s.PutByte(transform);
  return s.Send(stream);
}

int32_t JpegWriteComment(JpegOutputStream* stream, JPEG_PROPERTIES* props) {
  if (props->jpeg_comment != nullptr) {
    if (props->comment_size == 0) return 0;
    if (props->comment_size > kMaxCommentBytes) props->comment_size = kMaxCommentBytes;
    const size_t n = props->comment_size;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[n + 4]);
    if (!buffer) return -5;
    buffer[0] = 0xFF;
    buffer[1] = kCOM;
    buffer[2] = static_cast<uint8_t>((n + 2) >> 8);
    buffer[3] = static_cast<uint8_t>(n + 2);
    std::memcpy(buffer.get() + 4, props->jpeg_comment, n);
    return stream->family->putBytes(buffer.get(), n + 4, stream);
  }
  char text[80] = {};
  const int length = std::snprintf(text, sizeof(text), kDefaultCommentFormat, JpegGetLibVersion()->internalVersion);
  if (length <= static_cast<int>(std::strlen(kDefaultCommentFormat)) || length >= static_cast<int>(sizeof(text)))
    return 0;
  Segment s;
  s.PutByte2(kCOM);
  s.PutWord(static_cast<uint32_t>(length) + 3);
  s.PutBytes(text, static_cast<size_t>(length) + 1);  // the text's zero byte is part of it
  return s.Send(stream);
}

int32_t JpegWriteDQT(JpegOutputStream* stream, int number, const uint16_t steps[64]) {
  Segment s;
  s.PutByte2(kDQT);
  s.PutWord(67);
  s.PutByte(static_cast<uint8_t>(number));  // precision 0: 8-bit steps
  for (int k = 0; k < 64; ++k) s.PutByte(static_cast<uint8_t>(steps[k]));
  return s.Send(stream);
}

int32_t JpegWriteDHTAll(JpegOutputStream* stream, const JpegWorkState* work) {
  Segment s;
  size_t length = 2;
  for (int i = 0; i < work->huffmanCount; ++i) length += 17 + static_cast<size_t>(work->huffman[i].valueCount);
  s.PutByte2(kDHT);
  s.PutWord(static_cast<uint32_t>(length));
  for (int i = 0; i < work->huffmanCount; ++i) {
    const JpegHuffmanSpec& spec = work->huffman[i];
    s.PutByte(static_cast<uint8_t>(spec.tableClass * 16 + spec.number));
    s.PutBytes(spec.bits, 16);
    s.PutBytes(spec.values, static_cast<size_t>(spec.valueCount));
  }
  return s.Send(stream);
}

int32_t JpegWriteDHT(JpegOutputStream* stream, int tableClass, int number, const uint8_t bits[16],
                     const uint8_t* values, int valueCount) {
  const size_t length = 2 + 17 + static_cast<size_t>(valueCount);
  if (length > kMaxProgressiveDhtLength) return -6;
  Segment s;
  s.PutByte2(kDHT);
  s.PutWord(static_cast<uint32_t>(length));
  s.PutByte(static_cast<uint8_t>(tableClass * 16 + number));
  s.PutBytes(bits, 16);
  s.PutBytes(values, static_cast<size_t>(valueCount));
  return s.Send(stream);
}

int32_t JpegWriteSOF(JpegOutputStream* stream, const JpegWorkState* work, bool progressive) {
  Segment s;
  const int count = work->componentCount;
  s.PutByte2(progressive ? kSOF2 : kSOF0);
  s.PutWord(8 + 3 * static_cast<uint32_t>(count));
  s.PutByte(8);
  s.PutWord(static_cast<uint32_t>(work->imageHeight));
  s.PutWord(static_cast<uint32_t>(work->imageWidth));
  s.PutByte(static_cast<uint8_t>(count));
  for (int c = 0; c < count; ++c) {
    const JpegComponentInfo& component = work->components[c];
    if (count == 1) {
      s.PutByte(0);
      s.PutByte(0x11);
    } else {
      s.PutByte(static_cast<uint8_t>(progressive ? c : c + 1));
      s.PutByte(static_cast<uint8_t>(component.h * 16 + component.v));
    }
    s.PutByte(static_cast<uint8_t>(component.quantTable));
  }
  return s.Send(stream);
}

int32_t JpegWriteDRI(JpegOutputStream* stream, uint32_t interval) {
  Segment s;
  s.PutByte2(kDRI);
  s.PutWord(4);
  s.PutWord(interval);
  return s.Send(stream);
}

int32_t JpegWriteSOS(JpegOutputStream* stream, const JpegWorkState* work) {
  Segment s;
  const int count = work->componentCount;
  s.PutByte2(kSOS);
  s.PutWord(6 + 2 * static_cast<uint32_t>(count));
  s.PutByte(static_cast<uint8_t>(count));
  for (int c = 0; c < count; ++c) {
    if (count == 1) {
      s.PutByte(0);
      s.PutByte(0x00);
    } else {
      s.PutByte(static_cast<uint8_t>(c + 1));
      s.PutByte(static_cast<uint8_t>(work->dcSelect[c] * 16 + work->acSelect[c]));
    }
  }
  s.PutByte(0);
  s.PutByte(63);
  s.PutByte(0);
  return s.Send(stream);
}

int32_t JpegWriteProgressiveSOS(JpegOutputStream* stream, const JpegWorkState* work,
                                const JpegProgressiveScan& scan) {
  Segment s;
  s.PutByte2(kSOS);
  s.PutWord(6 + 2 * static_cast<uint32_t>(scan.componentCount));
  s.PutByte(static_cast<uint8_t>(scan.componentCount));
  for (int i = 0; i < scan.componentCount; ++i) {
    const int c = scan.components[i];
    s.PutByte(static_cast<uint8_t>(scan.componentCount == 1 ? c : i));
    s.PutByte(static_cast<uint8_t>(work->dcSelect[c] * 16 + work->acSelect[c]));
  }
  s.PutByte(static_cast<uint8_t>(scan.ss));
  s.PutByte(static_cast<uint8_t>(scan.se));
  s.PutByte(static_cast<uint8_t>(scan.ah * 16 + scan.al));
  return s.Send(stream);
}

int32_t JpegWriteRST(JpegOutputStream* stream, int number) {
  if (number < 0 || number > 7) return -25;
  return JpegWriteMarker(stream, static_cast<uint8_t>(kRST0 + number));
}
