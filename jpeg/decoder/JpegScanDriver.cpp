// The scan driver: sets up the picture when its first scan begins, runs the
// decode loop of each scan (straight to the output for a single interleaved
// scan, into the coefficient store for progressive and component-by-component
// images), and writes the stored picture once its scans are read.
#include <algorithm>

#include "JpegWorkState.h"
#include "decoder/JpegDecoder.h"

namespace {

constexpr int32_t kScanEnded = 3;  // a marker other than RST ended the scan early

int ScaleOf(int32_t ioType) {
  if (ioType == READ_EIGHTH_FROM_FILE || ioType == READ_EIGHTH_FROM_BUFFER) return 8;
  if (ioType == READ_QUARTER_FROM_FILE || ioType == READ_QUARTER_FROM_BUFFER) return 4;
  if (ioType == READ_HALF_FROM_FILE || ioType == READ_HALF_FROM_BUFFER) return 2;
  return 1;
}

int SizeIndex(int blockSize) { return blockSize == 8 ? 0 : blockSize == 4 ? 1 : blockSize == 2 ? 2 : 3; }

struct Transforms {
  JpegInverseDctRoutine inverse[4];
  JpegDequantizeRoutine dequantize;
};

Transforms SelectTransforms(const JPEG_PROPERTIES* props) {
  const JpegRoutineTable& table = props->runtime->routines;
  Transforms t;
  if (props->dct_method == 1) {
    t.inverse[0] = table.inverseDct;
    for (int i = 0; i < 3; ++i) t.inverse[i + 1] = table.inverseDctFurther[i];
    t.dequantize = table.dequantizeExact;
  } else {
    for (int i = 0; i < 4; ++i) t.inverse[i] = table.inverseDctFast[i];
    t.dequantize = table.dequantizeAan[0];
  }
  return t;
}

int32_t PrepareDequant(const JPEG_PROPERTIES* props, JpegDecodeState* s) {
  for (int c = 0; c < s->componentCount; ++c) {
    const int table = s->components[c].quantTable;
    if (!s->quantDefined[table]) return JPEG_ERR_NO_QUANT;
    if (props->dct_method == 1)
      PrepareDequantTable(s->quant[table], s->dequant[table]);
    else
      PrepareDequantTableAan(s->quant[table], s->dequant[table]);
  }
  return JPEG_SUCCESS;
}

void DequantizeAndTransform(JpegDecodeState* s, const Transforms& t) {
  for (int c = 0; c < s->componentCount; ++c) {
    const JpegFrameComponent& comp = s->components[c];
    const JpegInverseDctRoutine inverse = t.inverse[SizeIndex(s->planeBlock[c])];
    for (int b = 0; b < comp.h * comp.v; ++b) {
      int16_t* block = s->componentBlocks[c] + b * 64;
      t.dequantize(block, s->dequant[comp.quantTable]);
      inverse(block);
    }
  }
}

// Copies the MCU buffer's blocks into the caller's planes at their places.
void CopyToRequestPlanes(const JpegReadRequestRecord* request, JpegDecodeState* s, int column, int row) {
  for (int c = 0; c < s->componentCount; ++c) {
    if (request->planes[c] == nullptr) continue;
    const JpegFrameComponent& comp = s->components[c];
    const size_t stride = static_cast<size_t>(s->mcusPerRow) * comp.h * 8;
    for (int i = 0; i < comp.v; ++i)
      for (int j = 0; j < comp.h; ++j) {
        const int16_t* block = s->componentBlocks[c] + (i * comp.h + j) * 64;
        int16_t* out = request->planes[c] + (static_cast<size_t>(row) * comp.v + i) * 8 * stride +
                       (static_cast<size_t>(column) * comp.h + j) * 8;
        for (int y = 0; y < 8; ++y) std::copy_n(block + y * 8, 8, out + y * stride);
      }
  }
}

// Dequantises and transforms the MCU buffer's blocks, then writes the MCU.
void OutputMcu(JPEG_PROPERTIES* props, JpegDecodeState* s, const Transforms& t, int column, int row) {
  if (const JpegReadRequestRecord* request = props->read_request_record) {
    if (request->mode != 0) DequantizeAndTransform(s, t);
    CopyToRequestPlanes(request, s, column, row);
    return;
  }
  DequantizeAndTransform(s, t);
  if (s->useFastPath) {
    props->runtime->routines.outputKernels[0].routine(props, column, row);
    return;
  }
  JpegOutMcuToBand(s, column, row);
  if (column + 1 == s->bandEndColumn) JpegOutputBand(props, s, row, false);
}

// MCU columns and rows that hold output pixels: all, or those the region
// touches (one more on each side for the smooth filter's neighbours).
void McuRange(const JPEG_PROPERTIES* props, const JpegDecodeState* s, int* firstColumn, int* endColumn,
              int* firstRow, int* endRow) {
  const JpegOutputTarget& t = s->target;
  const int width = t.blockSize * s->hMax, height = t.blockSize * s->vMax;
  *firstColumn = t.write.left / width;
  *endColumn = (t.write.right + width - 1) / width;
  *firstRow = t.write.top / height;
  *endRow = (t.write.bottom + height - 1) / height;
  if (props->upsampling_mode == 1) {
    *firstColumn = std::max(*firstColumn - 1, 0);
    *firstRow = std::max(*firstRow - 1, 0);
    *endColumn = std::min(*endColumn + 1, s->mcusPerRow);
    *endRow = std::min(*endRow + 1, s->mcuRows);
  }
}

// Marks damage met in the data; a restart-marker fault outranks a data fault.
void NoteDamage(JpegDecodeState* s, int32_t code) {
  if (s->damage != JPEG_ERR_BAD_RST) s->damage = code;
}

// Whether the next unit of the scan has no data to decode: its interval is
// missing, or the data ran out (at a marker) inside the current interval.
bool UnitLost(const JpegDecodeState* s) {
  return s->scan->missingIntervals > 0 || JpegInputExhausted(&s->input);
}

// Whether the stream bears out the number of the restart marker just read,
// `ahead` of the one expected: the next marker carries the number after it,
// or, when it would be the scan's last restart marker, the scan ends there.
bool NumberBorneOut(JpegInputStream* in, int code, int ahead, int markersLeft) {
  const int next = JpegPeekMarker(in);
  if (next >= 0xD0 && next <= 0xD7) return next == 0xD0 + ((code - 0xD0 + 1) & 7);
  if (next < 0) return false;  // none within reach: nothing bears it out
  return ahead < 4 && ahead == markersLeft - 1;
}

// The restart step: takes the restart marker that ends an interval and
// resynchronises by its number. A marker one to three ahead of the expected
// one tells that many intervals were lost; their MCUs are passed over as lost
// and the reader goes on behind the marker. A marker behind the expected one
// is stale: the data behind it is passed over up to the next marker. After an
// interval that decoded cleanly up to its marker (as a lost stretch can) a
// wrong number is believed only when the stream bears it out, the marker after
// it carrying the next number, or ending the scan when it is the last; else
// the marker is taken as the expected one, for a stream may number its markers
// wrongly and lack nothing. A damaged code after 0xFF (no marker's) is passed
// over with the data around it, so that the interval it lies in, or the one
// its marker began, is lost and no more. `markersLeft` counts this scan's
// restart markers still to come, this one included. Returns 0, kScanEnded when
// the scan's data has ended, or the error of a failed marker read.
int32_t TakeRestartMarker(JpegDecodeState* s, int markersLeft) {
  JpegScanRecord* scan = s->scan.get();
  JpegInputStream* in = &s->input;
  for (int32_t& dc : scan->lastDc) dc = 0;
  scan->restartsLeft = scan->restartInterval;
  if (scan->missingIntervals > 0) {
    // A missing interval has no marker of its own: the reader already stands
    // behind the one that ended the gap.
    --scan->missingIntervals;
    return JPEG_SUCCESS;
  }
  const bool ranOut = JpegInputExhausted(in);
  const bool dataLeft = in->bits - in->padBits >= 8;
  uint64_t skipped = 0;
  for (;;) {
    int code = in->pendingMarker;
    in->pendingMarker = 0;
    if (code == 0) {
      const int32_t result = JpegReadMarker(in, &code, &skipped);
      if (result != JPEG_SUCCESS) {
        JpegClearBitState(in);
        scan->missingIntervals = kJpegRestOfScanLost;
        return result;
      }
    }
    if (code != kJpegEndOfData && !JpegIsMarkerCode(code)) {
      skipped += 2;
      continue;
    }
    if (code < 0xD0 || code > 0xD7) {
      // Not a restart marker: the scan's data ends here and the stream reader
      // takes the marker.
      if (code != kJpegEndOfData) in->pendingMarker = static_cast<uint8_t>(code);
      JpegClearBitState(in);
      scan->missingIntervals = kJpegRestOfScanLost;
      NoteDamage(s, JPEG_ERR_BAD_RST);
      return kScanEnded;
    }
    const bool intact = !ranOut && !dataLeft && skipped == 0;
    int ahead = (code - 0xD0 - scan->nextRestart) & 7;
    if (ahead != 0 && intact && !NumberBorneOut(in, code, ahead, markersLeft)) ahead = 0;
    if (ahead >= 4) {
      NoteDamage(s, JPEG_ERR_BAD_RST);
      continue;
    }
    JpegClearBitState(in);
    scan->nextRestart = (scan->nextRestart + ahead + 1) & 7;
    if (ahead != 0) {
      scan->missingIntervals = ahead;
      NoteDamage(s, JPEG_ERR_BAD_RST);
    } else if (!intact) {
      NoteDamage(s, JPEG_ERR_DATA);
    }
    return JPEG_SUCCESS;
  }
}

// After each unit of a scan: restart markers and the caller's interrupt.
// Returns 0 to go on, kScanEnded, 1 (interrupted) or an error.
int32_t AfterUnit(JPEG_PROPERTIES* props, JpegDecodeState* s, int column, int row, int unitsPerRow, int unitRows) {
  JpegScanRecord* scan = s->scan.get();
  const bool last = column + 1 == unitsPerRow && row + 1 == unitRows;
  if (scan->restartInterval != 0 && --scan->restartsLeft == 0 && !last) {
    const int unitsLeft = (unitRows - row) * unitsPerRow - column - 1;
    const int32_t result = TakeRestartMarker(s, (unitsLeft + scan->restartInterval - 1) / scan->restartInterval);
    if (result != JPEG_SUCCESS) return result;
  }
  if (!last && __atomic_load_n(&props->interrupt_request, __ATOMIC_ACQUIRE) != 0) {
    scan->resumeColumn = column + 1 == unitsPerRow ? 0 : column + 1;
    scan->resumeRow = column + 1 == unitsPerRow ? row + 1 : row;
    const int width = static_cast<int>(s->target.width), height = static_cast<int>(s->target.height);
    const int unitWidth = s->multiScan && scan->count == 1 ? 8 : s->hMax * 8;
    const int unitHeight = s->multiScan && scan->count == 1 ? 8 : s->vMax * 8;
    props->progress_width = std::min((column + 1) * unitWidth / s->target.scale, width);
    props->progress_height = std::min((row + 1) * unitHeight / s->target.scale, height);
    __atomic_store_n(&props->interrupt_request, 0u, __ATOMIC_RELEASE);
    return JPEG_INTERRUPT_SUCCESS;
  }
  return JPEG_SUCCESS;
}

// What a scan reports once its units are done: a failure met on the way, or
// damage noted for the end of the read.
int32_t EndOfScan(JpegDecodeState* s, int32_t success) {
  JpegInputStream* in = &s->input;
  if (JpegInputExhausted(in)) NoteDamage(s, JPEG_ERR_DATA);
  if (in->error != JPEG_SUCCESS) return in->error;
  if (s->scan->endResult != JPEG_SUCCESS) return s->scan->endResult;
  return success;
}

// A single interleaved scan: each MCU goes to the output as soon as it is
// decoded; an MCU whose data is lost goes out flat grey.
int32_t DecodeSequential(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  JpegScanRecord* scan = s->scan.get();
  const JpegRoutineTable& table = props->runtime->routines;
  const Transforms t = SelectTransforms(props);
  const int32_t success = s->target.regionActive ? JPEG_ROI_SUCCESS : JPEG_SUCCESS;
  int firstColumn, endColumn, firstRow, endRow;
  McuRange(props, s, &firstColumn, &endColumn, &firstRow, &endRow);
  alignas(16) int16_t skipped[64];
  for (int row = scan->resumeRow; row < s->mcuRows; ++row) {
    // Rows below the region (or below the buffer) are not needed.
    if (row >= endRow) return EndOfScan(s, success);
    for (int column = row == scan->resumeRow ? scan->resumeColumn : 0; column < s->mcusPerRow; ++column) {
      const bool wanted = row >= firstRow && column >= firstColumn && column < endColumn;
      if (UnitLost(s)) {
        if (wanted) {
          std::fill_n(s->mcu, kJpegMaxMcuBlocks * 64, int16_t{0});
          OutputMcu(props, s, t, column, row);
        }
      } else {
        for (int k = 0; k < scan->count; ++k) {
          const int c = scan->component[k];
          const JpegFrameComponent& comp = s->components[c];
          for (int b = 0; b < comp.h * comp.v; ++b) {
            int16_t* block = wanted ? s->componentBlocks[c] + b * 64 : skipped;
            const int32_t result = table.huffmanDecode[wanted ? 0 : 1](
                &s->input, &s->dcTables[scan->dcTable[k]], &s->acTables[scan->acTable[k]], &scan->lastDc[k],
                block);
            if (result != JPEG_SUCCESS) return result;
          }
        }
        if (wanted) OutputMcu(props, s, t, column, row);
      }
      const int32_t result = AfterUnit(props, s, column, row, s->mcusPerRow, s->mcuRows);
      if (result == kScanEnded) continue;  // the rest of the picture goes out as lost
      if (result < 0) {
        // The data ended at a restart: the rest goes out as lost, then the
        // read reports the failure (the region loop's restart failure is -25).
        scan->endResult = s->target.regionActive ? JPEG_ERR_BAD_RST : result;
        continue;
      }
      if (result != JPEG_SUCCESS) return result;
    }
  }
  return EndOfScan(s, success);
}

int16_t* StoredBlock(JpegDecodeState* s, int c, int blockX, int blockY) {
  return s->coefficients.data() + s->storeOffset[c] +
         (static_cast<size_t>(blockY) * s->blocksWide[c] + blockX) * 64;
}

// Any scan of a progressive or component-by-component picture: its
// coefficients go to the store. A scan of one component walks that
// component's own blocks (T.81 non-interleaved order). Units whose data is
// lost keep what earlier scans stored.
int32_t DecodeIntoStore(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  JpegScanRecord* scan = s->scan.get();
  JpegInputStream* in = &s->input;
  int unitsPerRow = s->mcusPerRow, unitRows = s->mcuRows;
  if (scan->count == 1) {
    const JpegFrameComponent& comp = s->components[scan->component[0]];
    const int width = (s->width * comp.h + s->hMax - 1) / s->hMax;
    const int height = (s->height * comp.v + s->vMax - 1) / s->vMax;
    unitsPerRow = (width + 7) / 8;
    unitRows = (height + 7) / 8;
  }
  const bool progressive = s->progressiveFrame;
  for (int row = scan->resumeRow; row < unitRows; ++row) {
    for (int column = row == scan->resumeRow ? scan->resumeColumn : 0; column < unitsPerRow; ++column) {
      if (UnitLost(s)) {
        // Without restart markers nothing after the loss can be placed.
        if (scan->restartInterval == 0 || scan->missingIntervals == kJpegRestOfScanLost) return EndOfScan(s, 0);
      } else {
        for (int k = 0; k < scan->count; ++k) {
          const int c = scan->component[k];
          const int h = scan->count == 1 ? 1 : s->components[c].h;
          const int v = scan->count == 1 ? 1 : s->components[c].v;
          const JpegHuffmanDecodeTable* dc = &s->dcTables[scan->dcTable[k]];
          const JpegHuffmanDecodeTable* ac = &s->acTables[scan->acTable[k]];
          for (int i = 0; i < v; ++i)
            for (int j = 0; j < h; ++j) {
              int16_t* block = StoredBlock(s, c, column * h + j, row * v + i);
              int32_t result;
              if (!progressive)
                result = DecodeBlockSequential(in, dc, ac, &scan->lastDc[k], block);
              else if (scan->ss == 0)
                result = scan->ah == 0 ? DecodeDcFirst(in, dc, block, &scan->lastDc[k], scan->al)
                                       : DecodeDcRefine(in, block, scan->al);
              else
                result = scan->ah == 0 ? DecodeAcFirst(in, block, ac, scan->ss, scan->se, scan->al)
                                       : DecodeAcRefine(in, block, ac, scan->ss, scan->se, scan->al);
              if (result != JPEG_SUCCESS) return result;
            }
        }
      }
      const int32_t result = AfterUnit(props, s, column, row, unitsPerRow, unitRows);
      if (result == kScanEnded) return EndOfScan(s, 0);
      // A restart marker the data ends before is reported as a bad one.
      if (result < 0) return JPEG_ERR_BAD_RST;
      if (result != JPEG_SUCCESS) return result;
    }
  }
  return EndOfScan(s, 0);
}

// Output geometry: the region of the picture at this scale and the buffer.
int32_t PlaceOutput(const JPEG_PROPERTIES* props, JpegDecodeState* s) {
  JpegOutputTarget& t = s->target;
  const int bufferWidth = static_cast<int>(props->image_width);
  const int bufferHeight = props->image_height < 0 ? -props->image_height : props->image_height;
  JpegRect r = props->region_of_interest;
  t.regionActive = (r.right != 0 && r.right < t.width) || (r.bottom != 0 && r.bottom < t.height) || r.top >= 1 ||
                   r.left >= 1;
  if (t.regionActive) {
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min({r.right, t.width, r.left + bufferWidth});
    r.bottom = std::min({r.bottom, t.height, r.top + bufferHeight});
    if (r.left >= r.right || r.top >= r.bottom) return JPEG_ERR_INVALID_PROPERTIES;
    t.region = r;
    t.write = r;
  } else {
    t.region = {0, 0, 0, 0};
    t.write = {0, 0, std::min(t.width, bufferWidth), std::min(t.height, bufferHeight)};
  }
  t.channels = static_cast<int>(props->image_channels);
  t.pixelBytes = props->image_subsampling == 2 ? 2 : t.channels;
  ptrdiff_t stride = static_cast<ptrdiff_t>(bufferWidth) * t.pixelBytes + props->image_pad_bytes;
  t.base = props->image_bytes;
  if (props->image_height < 0) {
    t.base += (bufferHeight - 1) * stride;
    stride = -stride;
  }
  t.stride = stride;

  return JPEG_SUCCESS;
}

}  // namespace

int32_t JpegStartImage(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  const JpegScanRecord& scan = *s->scan;
  JpegOutputTarget& t = s->target;
  t.scale = ScaleOf(props->io_type);
  t.blockSize = 8 / t.scale;
  s->multiScan = s->progressiveFrame || scan.count != s->componentCount || scan.ss != 0 || scan.se != 63 ||
                 scan.ah != 0 || scan.al != 0;

  // At reduced scales single-block components of a symmetric 2x2 or 1x1
  // sampling are transformed one size larger and need no upsampling.
  s->symmetric = !(s->hMax == 1 && s->vMax == 1);
  for (int c = 0; c < s->componentCount; ++c) {
    const JpegFrameComponent& comp = s->components[c];
    if (comp.h != comp.v || comp.h > 2) s->symmetric = false;
  }
  int offset = 0;
  for (int c = 0; c < s->componentCount; ++c) {
    const JpegFrameComponent& comp = s->components[c];
    s->planeBlock[c] = s->symmetric && t.scale > 1 && comp.h * comp.v == 1 ? 2 * t.blockSize : t.blockSize;
    s->componentBlocks[c] = s->mcu + offset;
    offset += comp.h * comp.v * 64;
  }

  t.width = (s->width + t.scale - 1) / t.scale;
  t.height = (s->height + t.scale - 1) / t.scale;
  const bool request = props->read_request_record != nullptr;
  if (request) {
    // Decoded data for the caller's planes: no pixel buffer takes part.
    s->useFastPath = false;
    t.regionActive = false;
    t.region = {0, 0, 0, 0};
    t.write = {0, 0, t.width, t.height};
  } else {
    const int32_t result = JpegSelectOutputConverter(props);
    if (result != JPEG_SUCCESS) return result;
    if (t.scale != 1) s->useFastPath = false;
    const int32_t placed = PlaceOutput(props, s);
    if (placed != JPEG_SUCCESS) return placed;
  }

  // Everything the read keeps for the picture: the coefficient store where
  // the stream needs one, and the general path's band.
  uint64_t bytes = 0, storeBlocks = 0;
  if (s->multiScan) {
    uint64_t blocks = 0;
    for (int c = 0; c < s->componentCount; ++c) {
      s->blocksWide[c] = s->mcusPerRow * s->components[c].h;
      s->blocksHigh[c] = s->mcuRows * s->components[c].v;
      s->storeOffset[c] = static_cast<size_t>(blocks * 64);
      blocks += static_cast<uint64_t>(s->blocksWide[c]) * s->blocksHigh[c];
    }
    storeBlocks = blocks;
    bytes = blocks * 64 * sizeof(int16_t);
    if (bytes > kJpegMaxImageBytes) return JPEG_ERR_MEMORY;
  }
  if (!s->useFastPath && !request) {
    int firstColumn, endColumn, firstRow, endRow;
    McuRange(props, s, &firstColumn, &endColumn, &firstRow, &endRow);
    if (!JpegStartBand(s, firstColumn, endColumn, &bytes)) return JPEG_ERR_MEMORY;
  }
  if (s->multiScan) s->coefficients.assign(static_cast<size_t>(storeBlocks * 64), 0);
  s->imageStarted = true;
  s->imageOutput = false;
  s->damage = JPEG_SUCCESS;
  return JPEG_SUCCESS;
}

int32_t JpegDecodeScans(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  int32_t result;
  if (!s->multiScan) {
    result = PrepareDequant(props, s);
    if (result == JPEG_SUCCESS) result = DecodeSequential(props, s);
  } else {
    result = DecodeIntoStore(props, s);
  }
  if (result == JPEG_SUCCESS || result == JPEG_ROI_SUCCESS) {
    JpegClearBitState(&s->input);
    s->scan->resumeColumn = s->scan->resumeRow = 0;
    // A damaged code that stopped the reader near the end of the data is no
    // marker: the stream reader searches on from it for the one that ends
    // the scan.
    JpegInputStream* in = &s->input;
    if (in->pendingMarker != 0 && !JpegIsMarkerCode(in->pendingMarker)) {
      in->pendingMarker = 0;
      if (result == JPEG_SUCCESS) NoteDamage(s, JPEG_ERR_DATA);
    }
  }
  props->runtime->endKernels();
  return result;
}

int32_t JpegFinishImage(JPEG_PROPERTIES* props, JpegDecodeState* s) {
  if (!s->imageStarted || s->imageOutput) return JPEG_SUCCESS;
  s->imageOutput = true;
  if (s->multiScan) {
    const int32_t result = PrepareDequant(props, s);
    if (result != JPEG_SUCCESS) return result;
    const Transforms t = SelectTransforms(props);
    int firstColumn, endColumn, firstRow, endRow;
    McuRange(props, s, &firstColumn, &endColumn, &firstRow, &endRow);
    for (int row = firstRow; row < endRow; ++row)
      for (int column = firstColumn; column < endColumn; ++column) {
        for (int c = 0; c < s->componentCount; ++c) {
          const JpegFrameComponent& comp = s->components[c];
          for (int i = 0; i < comp.v; ++i)
            for (int j = 0; j < comp.h; ++j)
              std::copy_n(StoredBlock(s, c, column * comp.h + j, row * comp.v + i), 64,
                          s->componentBlocks[c] + (i * comp.h + j) * 64);
        }
        OutputMcu(props, s, t, column, row);
      }
  }
  if (!s->useFastPath && props->read_request_record == nullptr) JpegOutputBand(props, s, s->mcuRows - 1, true);
  props->runtime->endKernels();
  return JPEG_SUCCESS;
}
