// The stream reader: walks the markers of a JPEG stream (T.81 syntax with the
// JFIF and Adobe application segments), loads tables and the frame, and hands
// every scan to the scan driver. Every length and index read from the stream
// is checked before use: files come from anywhere.
#include <algorithm>
#include <cstring>

#include "JpegWorkState.h"
#include "decoder/JpegDecoder.h"

namespace {

constexpr int kSOF0 = 0xC0, kSOF1 = 0xC1, kSOF2 = 0xC2, kDHT = 0xC4, kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA,
              kDQT = 0xDB, kDRI = 0xDD, kAPP0 = 0xE0, kAPP14 = 0xEE, kCOM = 0xFE;

bool HeaderOnly(int32_t type) {
  return type == READ_PARAMS_FROM_FILE || type == READ_PARAMS_FROM_BUFFER || type == READ_HEADER_FROM_FILE ||
         type == READ_HEADER_FROM_BUFFER || type == READ_THUMBNAIL_FROM_FILE || type == READ_THUMBNAIL_FROM_BUFFER;
}

bool TablesOnly(int32_t type) { return type == READ_HEADER_FROM_FILE || type == READ_HEADER_FROM_BUFFER; }

// Tables the caller supplied stand in for DQT and DHT segments the stream lacks.
void JpegInstallCallerTables(const JPEG_PROPERTIES* props, JpegDecodeState* s) {
  for (uint32_t i = 0; i < std::min(props->quant_table_count, 4u); ++i) {
    if (props->quant_tables[i] == nullptr) continue;
    for (int k = 0; k < 64; ++k) s->quant[i][k] = props->quant_tables[i][k];
    s->quantDefined[i] = true;
  }
  for (uint32_t pair = 0; pair < std::min(props->huffman_table_count, 4u); ++pair)
    for (int tableClass = 0; tableClass < 2; ++tableClass) {
      const int index = static_cast<int>(pair) * 2 + tableClass;
      const uint8_t* bits = props->huffman_bits[index];
      const uint8_t* values = props->huffman_values[index];
      if (bits == nullptr || values == nullptr) continue;
      JpegHuffmanDecodeTable* table = tableClass == 0 ? &s->dcTables[pair] : &s->acTables[pair];
      bool& defined = (tableClass == 0 ? s->dcDefined : s->acDefined)[pair];
      defined = JpegBuildHuffmanTable(bits, values, tableClass, static_cast<int32_t>(pair), table) == 0;
    }
}

bool ThumbnailRead(int32_t type) {
  return type == READ_THUMBNAIL_FROM_FILE || type == READ_THUMBNAIL_FROM_BUFFER;
}

inline int Word(const uint8_t* p) { return p[0] << 8 | p[1]; }

// The body of a marker segment: its length word, then the bytes it announces.
int32_t ReadBody(JpegInputStream* in, std::vector<uint8_t>* body) {
  int length;
  if (JpegReadWord(in, &length) != JPEG_SUCCESS || length < 2) return JPEG_ERR_DATA;
  return JpegReadSegment(in, static_cast<size_t>(length - 2), body);
}

int32_t SkipSegment(JpegInputStream* in) {
  int length;
  if (JpegReadWord(in, &length) != JPEG_SUCCESS || length < 2) return JPEG_ERR_DATA;
  return JpegSkipBytes(in, static_cast<size_t>(length - 2));
}

int32_t ReadFrameHeader(JPEG_PROPERTIES* props, JpegDecodeState* s, int marker) {
  std::vector<uint8_t> body;
  int32_t result = ReadBody(&s->input, &body);
  if (result != JPEG_SUCCESS) return result;
  if (body.size() < 6) return JPEG_ERR_DATA;
  if (body[0] != 8) return JPEG_ERR_UNSUPPORTED_FRAME;
  const int height = Word(&body[1]), width = Word(&body[3]), count = body[5];
  if (height == 0) return JPEG_ERR_DNL;
  if (width == 0) return JPEG_ERR_DATA;
  if (count < 1 || count > kJpegMaxComponents) return JPEG_ERR_COMP;
  if (body.size() < 6 + 3 * static_cast<size_t>(count)) return JPEG_ERR_DATA;

  JpegFrameComponent components[4] = {};
  int hMax = 1, vMax = 1, blocks = 0;
  for (int c = 0; c < count; ++c) {
    const uint8_t* p = &body[6 + 3 * c];
    JpegFrameComponent& comp = components[c];
    comp = {p[0], p[1] >> 4, p[1] & 15, p[2]};
    if (comp.h < 1 || comp.h > kJpegMaxSamplingFactor || comp.v < 1 || comp.v > kJpegMaxSamplingFactor)
      return JPEG_ERR_NOT_SUPPORTED;
    if (comp.quantTable > 3) return JPEG_ERR_DATA;
    // A lone component is one block per MCU whatever its factors say.
    if (count == 1) comp.h = comp.v = 1;
    hMax = std::max(hMax, comp.h);
    vMax = std::max(vMax, comp.v);
    blocks += comp.h * comp.v;
  }
  if (blocks > kJpegMaxMcuBlocks) return JPEG_ERR_NOT_SUPPORTED;
  for (int c = 0; c < count; ++c)
    if (hMax % components[c].h != 0 || vMax % components[c].v != 0) return JPEG_ERR_NOT_SUPPORTED;

  s->framePresent = true;
  s->progressiveFrame = marker == kSOF2;
  s->width = width;
  s->height = height;
  s->componentCount = count;
  std::copy_n(components, 4, s->components);
  s->hMax = hMax;
  s->vMax = vMax;
  s->mcusPerRow = (width + 8 * hMax - 1) / (8 * hMax);
  s->mcuRows = (height + 8 * vMax - 1) / (8 * vMax);
  props->jpeg_width = static_cast<uint32_t>(width);
  props->jpeg_height = static_cast<uint32_t>(height);
  props->jpeg_channels = static_cast<uint32_t>(count);
  return JPEG_SUCCESS;
}

int32_t ReadHuffmanTables(JpegDecodeState* s) {
  int length;
  if (JpegReadWord(&s->input, &length) != JPEG_SUCCESS || length < 2 || length - 2 >= 1092) return JPEG_ERR_DATA;
  std::vector<uint8_t> body;
  int32_t result = JpegReadSegment(&s->input, static_cast<size_t>(length - 2), &body);
  if (result != JPEG_SUCCESS) return result;
  size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < 17) return JPEG_ERR_DATA;
    const int tableClass = body[at] >> 4, number = body[at] & 15;
    if (tableClass > 1 || number > 3) return JPEG_ERR_BAD_HUFFMAN;
    const uint8_t* counts = &body[at + 1];
    size_t values = 0;
    for (int i = 0; i < 16; ++i) values += counts[i];
    if (values > 256 || body.size() - at - 17 < values) return JPEG_ERR_DATA;
    JpegHuffmanDecodeTable* table = tableClass == 0 ? &s->dcTables[number] : &s->acTables[number];
    if (JpegBuildHuffmanTable(counts, &body[at + 17], tableClass, number, table) != 0) {
      (tableClass == 0 ? s->dcDefined : s->acDefined)[number] = false;
      return JPEG_ERR_BAD_HUFFMAN;
    }
    (tableClass == 0 ? s->dcDefined : s->acDefined)[number] = true;
    at += 17 + values;
  }
  return JPEG_SUCCESS;
}

int32_t ReadQuantTables(JpegDecodeState* s) {
  int length;
  if (JpegReadWord(&s->input, &length) != JPEG_SUCCESS || length < 2 || length - 2 > 516) return JPEG_ERR_DATA;
  std::vector<uint8_t> body;
  int32_t result = JpegReadSegment(&s->input, static_cast<size_t>(length - 2), &body);
  if (result != JPEG_SUCCESS) return result;
  size_t at = 0;
  while (at < body.size()) {
    const int precision = body[at] >> 4, number = body[at] & 15;
    if (number > 3) return JPEG_ERR_BAD_QUANT;
    const size_t size = precision == 0 ? 64 : 128;
    if (body.size() - at - 1 < size) return JPEG_ERR_DATA;
    const uint8_t* p = &body[at + 1];
    for (int k = 0; k < 64; ++k) s->quant[number][k] = static_cast<uint16_t>(precision == 0 ? p[k] : Word(p + 2 * k));
    s->quantDefined[number] = true;
    at += 1 + size;
  }
  return JPEG_SUCCESS;
}

int32_t ReadRestartInterval(JpegDecodeState* s) {
  std::vector<uint8_t> body;
  const int32_t result = ReadBody(&s->input, &body);
  if (result != JPEG_SUCCESS) return result;
  if (body.size() < 2) return JPEG_ERR_DATA;
  s->restartInterval = Word(&body[0]);
  return JPEG_SUCCESS;
}

// Writes a thumbnail of 3-byte pixels (R, G, B) into the caller's buffer.
int32_t StoreThumbnail(JPEG_PROPERTIES* props, int width, int height, const uint8_t* rgb, const uint8_t* palette) {
  props->thumb_width = static_cast<uint32_t>(width);
  props->thumb_height = static_cast<uint32_t>(height);
  const int bufferHeight = props->image_height < 0 ? -props->image_height : props->image_height;
  if (static_cast<int>(props->image_width) < width || bufferHeight < height || props->image_channels < 3)
    return JPEG_ERR_BUFFER_TOO_SMALL;
  ptrdiff_t stride = static_cast<ptrdiff_t>(props->image_width) * props->image_channels + props->image_pad_bytes;
  uint8_t* row = props->image_bytes;
  if (props->image_height < 0) {
    row += (bufferHeight - 1) * stride;
    stride = -stride;
  }
  const bool swap = props->image_color != COLOR_RGB;
  for (int y = 0; y < height; ++y, row += stride)
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = palette != nullptr ? palette + 3 * rgb[y * width + x] : rgb + 3 * (y * width + x);
      uint8_t* out = row + x * props->image_channels;
      out[0] = swap ? p[2] : p[0];
      out[1] = p[1];
      out[2] = swap ? p[0] : p[2];
    }
  return JPEG_SUCCESS;
}

int32_t ReadApp0(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  int length;
  if (JpegReadWord(&s->input, &length) != JPEG_SUCCESS || length < 2) return JPEG_ERR_DATA;
  // Short segments, and APP0 in an entropy-only read, are passed by their
  // length: their bytes are not markers.
  if (length - 2 < 14 || props->io_type == READ_ENTROPY_FROM_FILE)
    return JpegSkipBytes(&s->input, static_cast<size_t>(length - 2));
  std::vector<uint8_t> body;
  int32_t result = JpegReadSegment(&s->input, static_cast<size_t>(length - 2), &body);
  if (result != JPEG_SUCCESS) return result;
  if (s->framePresent) return JPEG_SUCCESS;
  const uint8_t* p = body.data();
  const size_t size = body.size();
  const bool thumbnailRead = ThumbnailRead(props->io_type);
  if (std::memcmp(p, "JFIF", 5) == 0) {
    props->jfif_version = static_cast<uint16_t>(Word(p + 5));
    props->jfif_units = p[7];
    props->jfif_x_density = static_cast<uint16_t>(Word(p + 8));
    props->jfif_y_density = static_cast<uint16_t>(Word(p + 10));
    const int width = p[12], height = p[13];
    if (width == 0 || height == 0) return JPEG_SUCCESS;
    if (!thumbnailRead || size < 14 + static_cast<size_t>(width) * height * 3) {
      props->thumb_width = static_cast<uint32_t>(width);
      props->thumb_height = static_cast<uint32_t>(height);
      return JPEG_SUCCESS;
    }
    return StoreThumbnail(props, width, height, p + 14, nullptr);
  }
  if (std::memcmp(p, "JFXX", 5) == 0 && size >= 8) {
    const int code = p[5], width = p[6], height = p[7];
    if (width == 0 || height == 0) return JPEG_SUCCESS;
    if (code == 0x13) {
      if (!thumbnailRead || size < 8 + static_cast<size_t>(width) * height * 3) {
        props->thumb_width = static_cast<uint32_t>(width);
        props->thumb_height = static_cast<uint32_t>(height);
        return JPEG_SUCCESS;
      }
      return StoreThumbnail(props, width, height, p + 8, nullptr);
    }
    if (code == 0x11 && thumbnailRead && size >= 8 + 768 + static_cast<size_t>(width) * height)
      return StoreThumbnail(props, width, height, p + 8 + 768, p + 8);
  }
  return JPEG_SUCCESS;
}

int32_t ReadAdobeSegment(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  int length;
  if (JpegReadWord(&s->input, &length) != JPEG_SUCCESS || length < 2) return JPEG_ERR_DATA;
  if (length - 2 < 12) return JpegSkipBytes(&s->input, static_cast<size_t>(length - 2));
  std::vector<uint8_t> body;
  const int32_t result = JpegReadSegment(&s->input, static_cast<size_t>(length - 2), &body);
  if (result != JPEG_SUCCESS) return result;
  if (std::memcmp(body.data(), "Adobe", 5) != 0) return JPEG_SUCCESS;
  props->adobe_version = static_cast<uint16_t>(Word(&body[5]));
  props->adobe_flags0 = static_cast<uint16_t>(Word(&body[7]));
  props->adobe_flags1 = static_cast<uint16_t>(Word(&body[9]));
  props->adobe_transform = body[11];
  return JPEG_SUCCESS;
}

int32_t ReadComment(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  std::vector<uint8_t> body;
  const int32_t result = ReadBody(&s->input, &body);
  if (result != JPEG_SUCCESS) return result;
  if (s->framePresent || props->jpeg_comment == nullptr) return JPEG_SUCCESS;
  // On a read the comment pointer names the caller's buffer of comment_size bytes.
  uint8_t* target = const_cast<uint8_t*>(props->jpeg_comment);
  const size_t room = props->comment_size;
  // An empty comment (a segment of length 2) has no bytes to copy.
  const size_t copied = std::min(room, body.size());
  if (copied > 0) std::memcpy(target, body.data(), copied);
  props->comment_size = static_cast<uint16_t>(body.size());
  return room >= body.size() ? JPEG_SUCCESS : JPEG_ERR_COMMENT_ACCESS;
}

// segmentBody: the segment's bytes behind its length word.
int32_t ReadScanHeader(JpegDecodeState* s, JpegScanRecord* scan, std::vector<uint8_t>* segmentBody) {
  if (!s->framePresent) return JPEG_ERR_NO_FRAME;
  std::vector<uint8_t>& body = *segmentBody;
  const int32_t result = ReadBody(&s->input, &body);
  if (result != JPEG_SUCCESS) return result;
  if (body.empty()) return JPEG_ERR_DATA;
  const int count = body[0];
  if (count < 1 || count > kJpegMaxComponents || count > s->componentCount) return JPEG_ERR_DATA;
  if (body.size() < 1 + 2 * static_cast<size_t>(count) + 3) return JPEG_ERR_DATA;
  scan->count = count;
  int blocks = 0;
  for (int k = 0; k < count; ++k) {
    const int id = body[1 + 2 * k];
    int index = -1;
    for (int c = 0; c < s->componentCount && index < 0; ++c)
      if (s->components[c].id == id) index = c;
    if (index < 0) return JPEG_ERR_DATA;
    for (int j = 0; j < k; ++j)
      if (scan->component[j] == index) return JPEG_ERR_DATA;
    scan->component[k] = index;
    scan->dcTable[k] = body[2 + 2 * k] >> 4;
    scan->acTable[k] = body[2 + 2 * k] & 15;
    if (scan->dcTable[k] > 3 || scan->acTable[k] > 3) return JPEG_ERR_DATA;
    blocks += s->components[index].h * s->components[index].v;
  }
  if (count > 1 && blocks > kJpegMaxMcuBlocks) return JPEG_ERR_NOT_SUPPORTED;
  const uint8_t* p = &body[1 + 2 * count];
  scan->ss = p[0];
  scan->se = p[1];
  scan->ah = p[2] >> 4;
  scan->al = p[2] & 15;
  if (s->progressiveFrame) {
    if (scan->ss > scan->se || scan->se > 63 || scan->ah > 13 || scan->al > 13) return JPEG_ERR_DATA;
    if ((scan->ss == 0) != (scan->se == 0) || (scan->ss > 0 && count != 1)) return JPEG_ERR_DATA;
  }
  // Tables the scan will use must have been defined.
  for (int k = 0; k < count; ++k) {
    if (!s->quantDefined[s->components[scan->component[k]].quantTable]) return JPEG_ERR_NO_QUANT;
    const bool needsDc = !s->progressiveFrame || (scan->ss == 0 && scan->ah == 0);
    const bool needsAc = !s->progressiveFrame || scan->ss > 0;
    if ((needsDc && !s->dcDefined[scan->dcTable[k]]) || (needsAc && !s->acDefined[scan->acTable[k]]))
      return JPEG_ERR_NO_HUFFMAN;
  }
  return JPEG_SUCCESS;
}

// A cut or damaged stream still leaves the picture read so far in the
// buffer, and the read reports why it stopped.
int32_t StopWithPicture(JPEG_PROPERTIES* props, JpegDecodeState* s, int32_t result) {
  if (!HeaderOnly(props->io_type)) JpegFinishImage(props, s);
  return result;
}

// A scan: header, then (for image reads) its decoding. Returns the read's
// result when the read ends here, or -1000 to go on with the next marker.
constexpr int32_t kContinue = -1000;

int32_t HandleScanResult(JPEG_PROPERTIES* props, JpegDecodeState* s, int32_t result) {
  if (result == JPEG_INTERRUPT_SUCCESS) return result;  // the scan stays current for the next call
  if (result == JPEG_ROI_SUCCESS) {
    s->scan.reset();
    const int32_t finished = JpegFinishImage(props, s);
    if (finished != JPEG_SUCCESS) return finished;
    return s->damage != JPEG_SUCCESS ? s->damage : JPEG_ROI_SUCCESS;
  }
  s->scan.reset();
  if (result != JPEG_SUCCESS) return StopWithPicture(props, s, result);
  ++s->scanCount;
  if (!s->multiScan) {
    const int32_t finished = JpegFinishImage(props, s);
    if (finished != JPEG_SUCCESS) return finished;
  }
  return kContinue;
}

int32_t ReadScan(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  auto scan = std::make_unique<JpegScanRecord>();
  std::vector<uint8_t> body;
  int32_t result = ReadScanHeader(s, scan.get(), &body);
  if (result != JPEG_SUCCESS) return result;
  if (HeaderOnly(props->io_type)) {
    // A header read stops in front of the first scan: the next read of the
    // file takes the scan's header again.
    const size_t length = body.size() + 2;
    std::vector<uint8_t> segment = {0xFF, kSOS, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    segment.insert(segment.end(), body.begin(), body.end());
    JpegUnreadBytes(&s->input, segment.data(), segment.size());
    return JPEG_SUCCESS;
  }
  scan->restartInterval = s->restartInterval;
  scan->restartsLeft = s->restartInterval;
  s->scan = std::move(scan);
  if (!s->imageStarted) {
    result = JpegStartImage(props, s);
    if (result != JPEG_SUCCESS) {
      s->scan.reset();
      return result;
    }
  } else if (!s->multiScan) {
    // A further scan of a single-scan picture has nothing to add; its data
    // is passed over by the marker search.
    s->scan.reset();
    return kContinue;
  }
  JpegClearBitState(&s->input);
  return HandleScanResult(props, s, JpegDecodeScans(props, s));
}

// End of the data: a picture read so far is written out.
int32_t EndOfData(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  if (HeaderOnly(props->io_type)) return JPEG_SUCCESS;
  if (!s->imageStarted) return JPEG_ERR_NO_IMAGE;
  const int32_t finished = JpegFinishImage(props, s);
  if (finished != JPEG_SUCCESS) return finished;
  if (s->damage != JPEG_SUCCESS) return s->damage;
  return s->target.regionActive ? JPEG_ROI_SUCCESS : JPEG_SUCCESS;
}

}  // namespace

void JpegResetImage(JpegDecodeState* s) {
  s->framePresent = false;
  s->progressiveFrame = false;
  s->width = s->height = s->componentCount = 0;
  s->hMax = s->vMax = 1;
  s->mcusPerRow = s->mcuRows = 0;
  s->imageStarted = false;
  s->imageOutput = false;
  s->damage = JPEG_SUCCESS;
  s->multiScan = false;
  s->scanCount = 0;
  s->scan.reset();
  s->coefficients = {};
  for (auto& band : s->band) band = {};
}

int32_t JpegReadMarkers(JPEG_PROPERTIES* props) {
  JpegDecodeState* s = props->work->decode.get();
  JpegInputStream* in = &s->input;
  const int32_t type = props->io_type;
  const bool resuming = s->scan != nullptr;
  if (!resuming) {
    JpegResetInput(in, props);
    if (in->file == kJpegNoFile) JpegResetImage(s);  // memory reads start at the stream's beginning
  }
  if (!resuming && HeaderOnly(type)) {
    // These reads need a stream that begins with SOI.
    const uint64_t before = in->consumed;
    int code;
    if (JpegReadMarker(in, &code) != JPEG_SUCCESS || code != kSOI || in->consumed != before + 2)
      return JPEG_ERR_NOT_JPEG;
    in->pendingMarker = kSOI;
  }
  if (resuming) {
    const int32_t result = HandleScanResult(props, s, JpegDecodeScans(props, s));
    if (result != kContinue) return result;
  }

  for (;;) {
    int code;
    int32_t result = JpegReadMarker(in, &code);
    if (result != JPEG_SUCCESS) return StopWithPicture(props, s, result);
    if (code == kJpegEndOfData) return EndOfData(props, s);
    switch (code) {
      case kSOI:
        JpegResetImage(s);
        props->adobe_transform = kJpegNoAdobeTransform;
        s->restartInterval = 0;
        break;
      case kSOF0:
      case kSOF1:
      case kSOF2:
        if (TablesOnly(type)) {
          in->pendingMarker = static_cast<uint8_t>(code);  // the next read starts at the frame
          return JPEG_SUCCESS;
        }
        if (s->framePresent && (code != kSOF0 || s->imageStarted)) {
          if (s->imageStarted) return JPEG_ERR_MULTIPLE_FRAMES;
          result = SkipSegment(in);
        } else {
          result = ReadFrameHeader(props, s, code);
        }
        break;
      case 0xC3: case 0xC5: case 0xC6: case 0xC7: case 0xC8: case 0xC9: case 0xCA: case 0xCB:
      case 0xCD: case 0xCE: case 0xCF:
        return JPEG_ERR_UNSUPPORTED_FRAME;
      case kDHT:
        result = ReadHuffmanTables(s);
        break;
      case kDQT:
        result = ReadQuantTables(s);
        break;
      case kDRI:
        result = ReadRestartInterval(s);
        break;
      case kSOS:
        result = ReadScan(props, s);
        if (result == kContinue) {
          result = JPEG_SUCCESS;
        } else if (result == JPEG_SUCCESS && HeaderOnly(type)) {
          return JPEG_SUCCESS;
        } else {
          return result;
        }
        break;
      case kEOI:
        if (HeaderOnly(type)) return JPEG_SUCCESS;
        if (!s->framePresent) {
          result = JpegReadMarker(in, &code);
          if (result != JPEG_SUCCESS || code != kSOI) return JPEG_ERR_NO_IMAGE;
          in->pendingMarker = kSOI;
          break;
        }
        if (!s->imageStarted) return JPEG_ERR_NO_IMAGE;
        return EndOfData(props, s);
      case kAPP0:
        result = ReadApp0(props, s);
        break;
      case kAPP14:
        result = ReadAdobeSegment(props, s);
        break;
      case kCOM:
        result = ReadComment(props, s);
        break;
      case 0x01:  // TEM: no segment
      case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5: case 0xD6: case 0xD7:
        break;
      default:
        result = SkipSegment(in);
        break;
    }
    if (result != JPEG_SUCCESS) return StopWithPicture(props, s, result);
  }
}

int32_t JpegReadStream(JpegCoreProperties* core, int32_t ioType) {
  JPEG_PROPERTIES* props = &core->props;
  JpegWorkState* work = props->work;
  if (!work->decode) work->decode = std::make_unique<JpegDecodeState>();
  JpegDecodeState* s = work->decode.get();
  const bool resuming = s->scan != nullptr;
  if (core->direct_properties == 0 && !resuming) JpegCopyCoreFields(core, props);
  props->io_type = ioType;

  const bool fileSource = (ioType & 1) == 0;
  if (fileSource && work->file == kJpegNoFile) {
    const char* name = core->direct_properties != 0 ? props->jpeg_file : core->jpeg_file;
    work->file = JpegFileOpen(name, kJpegAccessRead);
    if (work->file == kJpegNoFile) return JPEG_ERR_FILE_NAME;
    JpegForgetFileInput(&s->input);
  }
  s->input.file = fileSource ? work->file : kJpegNoFile;
  if (!resuming && !HeaderOnly(ioType)) JpegInstallCallerTables(props, s);

  int32_t result = JpegReadMarkers(props);
  props->runtime->endKernels();

  if (result != JPEG_INTERRUPT_SUCCESS) {
    s->scan.reset();
    // A finished picture, or a failed one, lets go of its file: the next read
    // of a file type starts afresh. Header reads keep the position for the next.
    if (fileSource && result == JPEG_SUCCESS && HeaderOnly(ioType)) {
      JpegKeepUnusedInput(&s->input);
    } else if (fileSource) {
      JpegFileClose(work->file);
      work->file = kJpegNoFile;
      JpegForgetFileInput(&s->input);
      s->input.file = kJpegNoFile;
    }
    if (result < 0) JpegResetImage(s);
  }
  if (core->direct_properties == 0) {
    core->jpeg_width = props->jpeg_width;
    core->jpeg_height = props->jpeg_height;
    core->jpeg_channels = props->jpeg_channels;
    core->thumb_width = props->thumb_width;
    core->thumb_height = props->thumb_height;
  }
  return result;
}
