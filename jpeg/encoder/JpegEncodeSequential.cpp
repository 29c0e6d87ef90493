// Header step and the sequential (baseline) scan encoder with restart
// intervals and interrupt/resume.
#include <new>

#include "encoder/JpegEncoder.h"
#include "encoder/JpegInputConvert.h"

namespace {

constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9;

bool WritesTables(int32_t ioType) { return ioType >= WRITE_IMAGE_TO_FILE && ioType <= WRITE_HEADER_TO_BUFFER; }
bool HeaderOnly(int32_t ioType) { return ioType == WRITE_HEADER_TO_FILE || ioType == WRITE_HEADER_TO_BUFFER; }

struct ScanTables {
  const JpegHuffmanCodeTable* dc[kJpegMaxComponents];
  const JpegHuffmanCodeTable* ac[kJpegMaxComponents];
  const uint16_t* reciprocals[kJpegMaxComponents];
  int blocks[kJpegMaxComponents];
};

int32_t LookUpTables(const JpegWorkState* work, const JpegScanState& scan, ScanTables* tables) {
  for (int i = 0; i < scan.componentCount; ++i) {
    const int c = scan.components[i].component;
    const int dc = work->dcSelect[c], ac = work->acSelect[c];
    if (!work->codesReady[0][dc] || !work->codesReady[1][ac]) return -17;
    const int quant = work->components[c].quantTable;
    if (quant < 0 || quant >= kJpegMaxComponents || !work->quantReady[quant]) return -18;
    tables->dc[i] = &work->codes[0][dc];
    tables->ac[i] = &work->codes[1][ac];
    tables->reciprocals[i] = work->quantWork[quant];
    tables->blocks[i] = scan.components[i].h * scan.components[i].v;
  }
  return 0;
}

// The MCU loop of a sequential scan; restartInterval 0 means no restarts.
int32_t EncodeScanLoop(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime,
                       uint32_t restartInterval) {
  JpegScanState& scan = *work->scan;
  ScanTables tables;
  const int32_t lookup = LookUpTables(work, scan, &tables);
  if (lookup != 0) return lookup;
  const JpegRoutineTable& routines = runtime->routines;
  const int totalBlocks = [&] {
    int n = 0;
    for (int i = 0; i < scan.componentCount; ++i) n += tables.blocks[i];
    return n;
  }();

  for (int row = scan.nextRow; row < work->mcuRows; ++row) {
    const int firstColumn = row == scan.nextRow ? scan.nextColumn : 0;
    for (int column = firstColumn; column < work->mcusPerRow; ++column) {
      work->input(work, column, row);
      for (int b = 0; b < totalBlocks; ++b) routines.activeForwardDct(work->mcu + b * 64);
      int16_t* block = work->mcu;
      for (int i = 0; i < scan.componentCount; ++i) {
        for (int b = 0; b < tables.blocks[i]; ++b, block += 64) {
          routines.activeQuantize(block, tables.reciprocals[i]);
          const int32_t result = routines.encodeBlock(&work->stream, tables.dc[i], tables.ac[i],
                                                      &scan.components[i].lastDc, block);
          if (result != 0) return result;
        }
      }
      if (restartInterval != 0) {
        ++scan.mcuCounter;
        if (scan.mcuCounter % restartInterval == 0) {
          const int number = static_cast<int>((scan.mcuCounter / restartInterval - 1) & 7);
          if (number == 7) scan.mcuCounter = 0;
          const int32_t result = JpegWriteRST(&work->stream, number);
          if (result != 0) return result;
          for (int i = 0; i < scan.componentCount; ++i) scan.components[i].lastDc = 0;
        }
      }
      if (__atomic_load_n(&props->interrupt_request, __ATOMIC_ACQUIRE) != 0) {
        scan.stoppedRow = row;
        scan.stoppedColumn = column;
        if (column + 1 < work->mcusPerRow) {
          scan.nextRow = row;
          scan.nextColumn = column + 1;
        } else {
          scan.nextRow = row + 1;
          scan.nextColumn = 0;
        }
        return 1;
      }
    }
  }
  return 0;
}

}  // namespace

int32_t JpegWriteHeaders(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime) {
  JpegOutputStream* stream = &work->stream;
  stream->file = work->file;
  runtime->routines.bitWriter->init(stream, props->jpeg_bytes, props->jpeg_size);
  int32_t result = JpegWriteMarker(stream, kSOI);
  if (result != 0) return result;

  if (WritesTables(props->io_type)) {
    const uint32_t colour = props->jpeg_color;
    if (colour == COLOR_RGB || colour == COLOR_RGBA)
      result = JpegWriteAPP14(stream, props, 0);
    else if (colour == COLOR_YCBCRA)
      result = JpegWriteAPP14(stream, props, 2);
    else
      result = JpegWriteAPP0(stream, props);
    if (result == 0) result = JpegWriteComment(stream, props);
    if (result == 0) result = JpegWriteTables(props, work, true);
  } else {
    result = JpegWriteTables(props, work, false);
  }
  if (result != 0) return result;

  const int method = props->dct_method == 1 ? 1 : 0;
  runtime->routines.activeForwardDct = runtime->routines.forwardDct[method];
  runtime->routines.activeQuantize = runtime->routines.quantize[method];

  if (HeaderOnly(props->io_type)) {
    result = JpegWriteMarker(stream, kEOI);
    if (result == 0) result = stream->family->finish(stream);
  }
  return result;
}

int32_t JpegEncodeSequential(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime) {
  JpegOutputStream* stream = &work->stream;
  int32_t result = 0;
  if (!work->scan) {
    work->scan.reset(new (std::nothrow) JpegScanState);
    if (!work->scan) return -5;
    JpegScanState& scan = *work->scan;
    scan.componentCount = work->componentCount;
    for (int c = 0; c < work->componentCount; ++c)
      scan.components[c] = {c, work->components[c].h, work->components[c].v, 0};
    scan.ioType = props->io_type;
    result = JpegWriteSOF(stream, work, false);
    if (result == 0 && props->restart_interval != 0) result = JpegWriteDRI(stream, props->restart_interval);
    if (result == 0) result = JpegWriteSOS(stream, work);
    if (result == 0) result = stream->family->finish(stream);
    if (result == 0) result = JpegSelectInputConverter(work, props, &runtime->routines);
    if (result != 0) {
      work->scan.reset();
      return result;
    }
  }
  result = EncodeScanLoop(props, work, runtime, props->restart_interval);
  if (result == 1 || result == 2) {
    __atomic_store_n(&props->interrupt_request, 0u, __ATOMIC_RELEASE);
    return result;
  }
  work->scan.reset();
  if (result != 0) return result;
  result = JpegWriteMarker(stream, kEOI);
  if (result == 0) result = stream->family->finish(stream);
  return result;
}
