// The codec's working state behind JPEG_PROPERTIES: frame geometry, tables,
// output stream and the scan state of a write that may be resumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/JpegHuffman.h"
#include "decoder/JpegDecoder.h"
#include "dispatch/JpegRuntime.h"
#include "encoder/JpegBitWriter.h"

constexpr int kJpegMaxComponents = 4;
constexpr int kJpegMaxBlocksInMcu = 10;  // 2x2 + 1 + 1 + 2x2

struct JpegComponentInfo {
  int index;
  int h;
  int v;
  int quantTable;
};

// One Huffman table as written in a DHT segment.
struct JpegHuffmanSpec {
  uint8_t bits[16];
  uint8_t values[256];
  int valueCount;
  int tableClass;  // 0 DC, 1 AC
  int number;
};

struct JpegScanComponent {
  int component;  // index into the frame's component table
  int h;
  int v;
  int32_t lastDc;
};

struct JpegScanState {
  int componentCount = 0;
  JpegScanComponent components[kJpegMaxComponents] = {};
  int ss = 0, se = 63, ah = 0, al = 0;
  int nextRow = 0;
  int nextColumn = 0;
  uint32_t mcuCounter = 0;
  int32_t ioType = -1;
  int stoppedRow = 0;
  int stoppedColumn = 0;
};

// One scan of a progressive script.
struct JpegProgressiveScan {
  int componentCount;
  int components[kJpegMaxComponents];  // frame component indexes in scan order
  int h[kJpegMaxComponents];
  int v[kJpegMaxComponents];
  int ss, se, ah, al;
};

struct JpegWorkState {
  // Frame.
  int componentCount = 0;
  JpegComponentInfo components[kJpegMaxComponents] = {};
  int hMax = 1, vMax = 1;
  int mcuWidth = 8, mcuHeight = 8;
  int mcusPerRow = 0, mcuRows = 0;
  int64_t totalMcus = 0;
  bool downsample = false;
  bool colorConvert = false;
  bool progressiveMode = false;

  // Source pixels, walked from the top row of the picture downwards.
  const uint8_t* imageTop = nullptr;
  ptrdiff_t stride = 0;
  int pixelBytes = 0;
  int imageWidth = 0;
  int imageHeight = 0;

  // Quantisation: base tables (zigzag) and working tables by table number,
  // holding scaled steps and afterwards reciprocals in natural order.
  int quantCount = 0;
  uint8_t quantBase[kJpegMaxComponents][64] = {};
  int quantNumber[kJpegMaxComponents] = {};
  bool quantReady[kJpegMaxComponents] = {};
  alignas(16) uint16_t quantSteps[kJpegMaxComponents][64] = {};
  alignas(16) uint16_t quantWork[kJpegMaxComponents][64] = {};

  // Huffman tables in stored order and their code tables by class and number.
  int huffmanCount = 0;
  JpegHuffmanSpec huffman[8] = {};
  bool codesReady[2][kJpegMaxComponents] = {};
  JpegHuffmanCodeTable codes[2][kJpegMaxComponents] = {};
  uint8_t dcSelect[kJpegMaxComponents] = {};
  uint8_t acSelect[kJpegMaxComponents] = {};

  // Input stage.
  JpegInputRoutine input = nullptr;
  int inputNumber = 0;
  JpegInputKernel inputKernel = nullptr;
  alignas(32) int16_t mcu[kJpegMaxBlocksInMcu * 64] = {};
  int16_t* componentBlocks[kJpegMaxComponents] = {};  // first block of each component in mcu
  // Source byte of each component for the generic copy routines; -1: zero samples.
  int sourceByte[kJpegMaxComponents] = {};
  bool invertInput = false;  // generic conversion of the inverted four-channel layout

  // Output: the open file and the entropy-coded stream.
  int file = kJpegNoFile;
  JpegOutputStream stream = {};

  // Scan state of a sequential write that may be resumed.
  std::unique_ptr<JpegScanState> scan;

  // Progressive: quantised coefficients of the whole image, per component a
  // grid of MCU-padded blocks in natural order; kept until JpegFree.
  std::vector<int16_t> coefficients;
  size_t componentOffset[kJpegMaxComponents] = {};
  int blocksWide[kJpegMaxComponents] = {};
  int blocksHigh[kJpegMaxComponents] = {};

  // Decoder: tables, frame, scan and output state of reads; made by the first read.
  std::unique_ptr<JpegDecodeState> decode;
};

// Copies the caller's core fields into the working record.
void JpegCopyCoreFields(const JpegCoreProperties* core, JPEG_PROPERTIES* props);
