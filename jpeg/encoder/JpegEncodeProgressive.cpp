// Progressive encoder: the whole image is transformed and quantised into the
// coefficient store, then each scan of the script is counted, given optimal
// Huffman tables (T.81 Annex K.2) and encoded.
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "encoder/JpegEncoder.h"
#include "encoder/JpegHuffmanEncode.h"
#include "encoder/JpegInputConvert.h"

namespace {

constexpr uint8_t kEOI = 0xD9;

int32_t AllocateCoefficientStore(JpegWorkState* work) {
  uint64_t total = 0;
  for (int c = 0; c < work->componentCount; ++c) {
    const uint64_t wide = static_cast<uint64_t>(work->mcusPerRow) * work->components[c].h;
    const uint64_t high = static_cast<uint64_t>(work->mcuRows) * work->components[c].v;
    work->blocksWide[c] = static_cast<int>(wide);
    work->blocksHigh[c] = static_cast<int>(high);
    work->componentOffset[c] = static_cast<size_t>(total);
    const uint64_t entries = wide * high * 64;
    if (entries > std::numeric_limits<uint64_t>::max() / 2 - total) return -5;
    total += entries;
  }
  if (total > std::numeric_limits<size_t>::max() / sizeof(int16_t) || total > work->coefficients.max_size())
    return -5;
  try {
    // Reused from an earlier progressive write of the same record.
    work->coefficients.assign(static_cast<size_t>(total), 0);
  } catch (const std::bad_alloc&) {
    return -5;
  }
  return 0;
}

int16_t* StoredBlock(JpegWorkState* work, int component, int blockRow, int blockColumn) {
  return work->coefficients.data() + work->componentOffset[component] +
         (static_cast<size_t>(blockRow) * work->blocksWide[component] + blockColumn) * 64;
}

int32_t TransformImage(JpegWorkState* work, JpegRuntime* runtime) {
  const JpegRoutineTable& routines = runtime->routines;
  for (int c = 0; c < work->componentCount; ++c) {
    const int quant = work->components[c].quantTable;
    if (quant < 0 || quant >= kJpegMaxComponents || !work->quantReady[quant]) return -18;
  }
  for (int row = 0; row < work->mcuRows; ++row)
    for (int column = 0; column < work->mcusPerRow; ++column) {
      work->input(work, column, row);
      int16_t* block = work->mcu;
      for (int c = 0; c < work->componentCount; ++c) {
        const JpegComponentInfo& info = work->components[c];
        const uint16_t* reciprocals = work->quantWork[info.quantTable];
        for (int by = 0; by < info.v; ++by)
          for (int bx = 0; bx < info.h; ++bx, block += 64) {
            routines.activeForwardDct(block);
            routines.activeQuantize(block, reciprocals);
            std::memcpy(StoredBlock(work, c, row * info.v + by, column * info.h + bx), block, 64 * sizeof(int16_t));
          }
      }
    }
  return 0;
}

// Blocks of a component that lie inside the image (T.81 A.2.2): a scan of one
// component covers only these, not the MCU padding.
void ComponentBlocks(const JpegWorkState* work, int component, int* wide, int* high) {
  const JpegComponentInfo& info = work->components[component];
  const int64_t width = (static_cast<int64_t>(work->imageWidth) * info.h + work->hMax - 1) / work->hMax;
  const int64_t height = (static_cast<int64_t>(work->imageHeight) * info.v + work->vMax - 1) / work->vMax;
  *wide = static_cast<int>((width + 7) / 8);
  *high = static_cast<int>((height + 7) / 8);
}

struct ScanPass {
  JpegWorkState* work;
  const JpegProgressiveScan* scan;
  uint32_t restartInterval;
  bool counting;
  JpegProgressiveCoder coder;
  const JpegHuffmanCodeTable* dcTables[kJpegMaxComponents];
  uint32_t* dcFrequencies[kJpegMaxComponents];
  int32_t lastDc[kJpegMaxComponents];
};

int32_t CodeBlock(ScanPass* pass, int scanIndex, const int16_t* block) {
  const JpegProgressiveScan& scan = *pass->scan;
  if (scan.ss == 0) {
    const bool refine = scan.ah != 0;
    if (pass->counting)
      return CountDcProgressive(pass->dcFrequencies[scanIndex], &pass->lastDc[scanIndex], block, refine, scan.al);
    return EncodeDcProgressive(&pass->coder, pass->dcTables[scanIndex], &pass->lastDc[scanIndex], block, refine,
                               scan.al);
  }
  if (scan.ah == 0) return EncodeAcFirst(&pass->coder, block, scan.ss, scan.se, scan.al);
  return EncodeAcRefine(&pass->coder, block, scan.ss, scan.se, scan.al);
}

// One unit between restart markers has ended: flush the band run, write RSTn,
// reset the predictions.
int32_t RestartBoundary(ScanPass* pass, uint32_t* unitCount, uint32_t* restartNumber, bool last) {
  if (pass->restartInterval == 0 || last) return 0;
  if (++*unitCount % pass->restartInterval != 0) return 0;
  int32_t result = pass->scan->ss != 0 ? EmitEobRun(&pass->coder) : 0;
  if (result == 0 && !pass->counting) result = JpegWriteRST(pass->coder.stream, static_cast<int>(*restartNumber & 7));
  ++*restartNumber;
  for (int32_t& dc : pass->lastDc) dc = 0;
  return result;
}

int32_t RunScan(ScanPass* pass) {
  JpegWorkState* work = pass->work;
  const JpegProgressiveScan& scan = *pass->scan;
  for (int32_t& dc : pass->lastDc) dc = 0;
  uint32_t unitCount = 0, restartNumber = 0;
  int32_t result = 0;
  if (scan.componentCount > 1) {
    for (int row = 0; row < work->mcuRows && result == 0; ++row)
      for (int column = 0; column < work->mcusPerRow && result == 0; ++column) {
        for (int i = 0; i < scan.componentCount && result == 0; ++i) {
          const int c = scan.components[i];
          for (int by = 0; by < scan.v[i] && result == 0; ++by)
            for (int bx = 0; bx < scan.h[i] && result == 0; ++bx)
              result = CodeBlock(pass, i, StoredBlock(work, c, row * scan.v[i] + by, column * scan.h[i] + bx));
        }
        const bool last = row == work->mcuRows - 1 && column == work->mcusPerRow - 1;
        if (result == 0) result = RestartBoundary(pass, &unitCount, &restartNumber, last);
      }
  } else {
    const int c = scan.components[0];
    int wide, high;
    ComponentBlocks(work, c, &wide, &high);
    for (int row = 0; row < high && result == 0; ++row)
      for (int column = 0; column < wide && result == 0; ++column) {
        result = CodeBlock(pass, 0, StoredBlock(work, c, row, column));
        const bool last = row == high - 1 && column == wide - 1;
        if (result == 0) result = RestartBoundary(pass, &unitCount, &restartNumber, last);
      }
  }
  if (result == 0 && scan.ss != 0) result = EmitEobRun(&pass->coder);
  return result;
}

int32_t EncodeOneScan(JPEG_PROPERTIES* props, JpegWorkState* work, const JpegProgressiveScan& scan) {
  // Statistics pass, one frequency table per Huffman table the scan uses.
  const bool dcScan = scan.ss == 0;
  const int tableClass = dcScan ? 0 : 1;
  uint32_t frequencies[kJpegMaxComponents][kJpegFrequencySlots] = {};
  bool used[kJpegMaxComponents] = {};
  auto tableOf = [&](int i) {
    const int c = scan.components[i];
    return dcScan ? work->dcSelect[c] : work->acSelect[c];
  };
  const bool needsTables = !(dcScan && scan.ah != 0);

  std::unique_ptr<ScanPass> pass(new (std::nothrow) ScanPass{});
  if (!pass) return -5;
  pass->work = work;
  pass->scan = &scan;
  pass->restartInterval = props->restart_interval;
  if (needsTables) {
    pass->counting = true;
    for (int i = 0; i < scan.componentCount; ++i) {
      used[tableOf(i)] = true;
      pass->dcFrequencies[i] = frequencies[tableOf(i)];
    }
    if (!dcScan) pass->coder.acFrequencies = frequencies[tableOf(0)];
    const int32_t result = RunScan(pass.get());
    if (result != 0) return result;

    for (int t = 0; t < kJpegMaxComponents; ++t) {
      if (!used[t]) continue;
      uint8_t bits[16];
      uint8_t values[256];
      int count = 0;
      GenerateOptimalHuffmanTable(frequencies[t], bits, values, &count);
      int32_t made = JpegDeriveHuffmanCodes(bits, values, &work->codes[tableClass][t]);
      if (made == 0) made = JpegWriteDHT(&work->stream, tableClass, t, bits, values, count);
      if (made != 0) return made;
      work->codesReady[tableClass][t] = true;
    }
  }
  int32_t result = JpegWriteProgressiveSOS(&work->stream, work, scan);
  if (result != 0) return result;

  *pass = ScanPass{};
  pass->work = work;
  pass->scan = &scan;
  pass->restartInterval = props->restart_interval;
  pass->counting = false;
  pass->coder.stream = &work->stream;
  for (int i = 0; i < scan.componentCount; ++i) pass->dcTables[i] = &work->codes[0][tableOf(i)];
  if (!dcScan) pass->coder.acTable = &work->codes[1][tableOf(0)];
  return RunScan(pass.get());
}

}  // namespace

int32_t JpegEncodeProgressive(JPEG_PROPERTIES* props, JpegWorkState* work, JpegRuntime* runtime) {
  int32_t result = AllocateCoefficientStore(work);
  if (result != 0) return result;
  std::vector<JpegProgressiveScan> script;
  try {
    result = JpegSetupProgressiveScans(work, props->jpeg_color, &script);
  } catch (const std::bad_alloc&) {
    result = -5;
  }
  JpegOutputStream* stream = &work->stream;
  if (result == 0) result = JpegWriteSOF(stream, work, true);
  if (result == 0 && props->restart_interval != 0) result = JpegWriteDRI(stream, props->restart_interval);
  if (result == 0) result = JpegSelectInputConverter(work, props, &runtime->routines);
  if (result == 0) result = TransformImage(work, runtime);
  for (size_t i = 0; result == 0 && i < script.size(); ++i) result = EncodeOneScan(props, work, script[i]);
  if (result == 0) result = JpegWriteMarker(stream, kEOI);
  if (result == 0) result = stream->family->finish(stream);
  return result;
}
