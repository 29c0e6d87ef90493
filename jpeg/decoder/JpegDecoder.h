// The decoder's working state and the stages that share it: input layer,
// Huffman decoding, inverse transforms, output set-up and output routines,
// stream reader and scan driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "JpegCodec.h"
#include "common/JpegHuffman.h"
#include "dispatch/JpegFile.h"
#include "dispatch/JpegRuntime.h"

constexpr int kJpegInputBufferSize = 4096;
constexpr int kJpegMaxSamplingFactor = 4;
constexpr int kJpegMaxMcuBlocks = 10;   // blocks of one interleaved MCU
constexpr int kJpegEndOfData = 256;     // marker code: the data ended after a prefix
// How far a look-ahead for the next marker reads on: well past the longest
// restart interval of a real picture, and a bound on what a file read holds.
constexpr size_t kJpegLookAheadLimit = size_t{16} << 20;
constexpr uint8_t kJpegNoAdobeTransform = 255;
// Largest coefficient store or set of component planes one image may take.
constexpr uint64_t kJpegMaxImageBytes = uint64_t{1} << 30;

// The stream bytes, from a file through a small buffer or straight from memory,
// and the entropy decoder's bit reader over them.
struct JpegInputStream {
  int file = kJpegNoFile;
  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;
  uint64_t consumed = 0;       // bytes taken from the source
  uint8_t pendingMarker = 0;   // marker met inside entropy-coded data
  bool failed = false;         // a file read failed: nothing more comes
  int32_t error = 0;           // damage met by the bit reader (a lone 0xFF at the end of memory)
  uint64_t accumulator = 0;    // plain decoders: new bytes enter at the low end;
                               // SIMD block decoders: unread bits at the top
  int bits = 0;                // valid bits in the accumulator
  int padBits = 0;             // zero bits appended past the end of the data
  uint32_t eobRun = 0;         // progressive AC end-of-band run
  // File bytes that come after the buffer's: read by a look-ahead past the
  // buffer, or left unused by a read that keeps its file for the next. They
  // are kept rather than sought back over, for a pipe cannot be read twice.
  std::vector<uint8_t> held;
  size_t heldAt = 0;           // first held byte not yet moved into the buffer
  uint8_t buffer[kJpegInputBufferSize];
};

struct JpegFrameComponent {
  int id;
  int h;
  int v;
  int quantTable;
};

struct JpegScanRecord {
  int count = 0;
  int component[4] = {};  // frame index of each scan component
  int dcTable[4] = {};
  int acTable[4] = {};
  int ss = 0, se = 63, ah = 0, al = 0;
  int restartInterval = 0;
  int resumeColumn = 0, resumeRow = 0;
  int32_t lastDc[4] = {};
  int restartsLeft = 0;  // MCUs until the next restart marker
  int nextRestart = 0;   // number (0-7) of the restart marker expected next
  // Restart intervals ahead whose data is missing: their MCUs are passed over
  // as lost. kJpegRestOfScanLost once the scan's data has ended.
  int missingIntervals = 0;
  int32_t endResult = 0;  // error to report once the scan's lost MCUs are out
};
constexpr int kJpegRestOfScanLost = 1 << 30;

// Geometry of the picture being written, fixed when the first scan begins.
struct JpegOutputTarget {
  int scale = 1;             // 1, 2, 4 or 8
  int blockSize = 8;         // samples per block side after the inverse transform
  int width = 0, height = 0; // output picture at this scale
  JpegRect write = {};       // output pixels that land in the buffer
  JpegRect region = {};      // the caller's region after clamping (empty: whole picture)
  bool regionActive = false;
  uint8_t* base = nullptr;   // buffer byte of output pixel (region left, region top)
  ptrdiff_t stride = 0;
  int channels = 0;
  int pixelBytes = 0;        // 2 for packed YCbYCr
};

struct JpegDecodeState {
  JpegInputStream input;

  // Tables, kept across images for abbreviated streams.
  uint16_t quant[4][64] = {};  // zigzag order as read
  bool quantDefined[4] = {};
  JpegHuffmanDecodeTable dcTables[4] = {};
  JpegHuffmanDecodeTable acTables[4] = {};
  bool dcDefined[4] = {};
  bool acDefined[4] = {};
  int restartInterval = 0;

  // Frame.
  bool framePresent = false;
  bool progressiveFrame = false;
  int width = 0, height = 0, componentCount = 0;
  JpegFrameComponent components[4] = {};
  int hMax = 1, vMax = 1;
  int mcusPerRow = 0, mcuRows = 0;

  // Image in progress.
  bool imageStarted = false;
  bool multiScan = false;  // every scan goes to the coefficient store first
  int scanCount = 0;
  bool imageOutput = false;
  // Damage met and passed over so far (-21 data, -25 restart markers); the
  // read reports it once the picture is out.
  int32_t damage = 0;
  std::unique_ptr<JpegScanRecord> scan;
  JpegOutputTarget target;
  int fastCode = 0;
  bool useFastPath = false;
  bool symmetric = false;
  int32_t dequant[4][64] = {};  // by quantisation table, natural order, for dct_method
  // Coefficient store: per component a grid of blocks in natural order.
  std::vector<int16_t> coefficients;
  size_t storeOffset[4] = {};
  int blocksWide[4] = {}, blocksHigh[4] = {};
  // Sample band of the general path: per component the sample rows of the
  // MCU row being decoded and the two before it (which the smooth filter and
  // the rows still to be written need), over the MCU columns that hold output
  // pixels. Rows wrap round, so memory follows the buffer, not the picture.
  std::vector<uint8_t> band[4];
  int bandWidth[4] = {}, bandRows[4] = {};
  int bandFirstColumn = 0, bandEndColumn = 0;  // MCU columns the band covers
  int planeBlock[4] = {};  // samples per block side in the band
  int outputRow = 0;       // next output row the general path writes
  alignas(32) int16_t mcu[kJpegMaxMcuBlocks * 64] = {};
  int16_t* componentBlocks[4] = {};
};

// Input layer.
void JpegResetInput(JpegInputStream* in, const JPEG_PROPERTIES* props);
int32_t JpegFillInput(JpegInputStream* in);
// skipped (optional): data bytes passed before the marker.
int32_t JpegReadMarker(JpegInputStream* in, int* code, uint64_t* skipped = nullptr);
int32_t JpegReadSegment(JpegInputStream* in, size_t length, std::vector<uint8_t>* bytes);
int32_t JpegReadWord(JpegInputStream* in, int* value);
int32_t JpegSkipBytes(JpegInputStream* in, size_t length);
// Whether a byte after 0xFF inside entropy-coded data is a marker's code.
// Besides stuffing (0x00) and fill (0xFF) only markers follow a 0xFF there,
// and the codes below 0xC0 are none that may: T.81 assigns no marker to
// 0x02-0xBF, and TEM (0x01) has no place in a scan. Such a byte is damage.
inline bool JpegIsMarkerCode(int code) { return code >= 0xC0 && code <= 0xFE; }
// Code of the next marker in the stream, found without taking anything:
// kJpegEndOfData when the data ends first, -1 when none lies within
// kJpegLookAheadLimit bytes. Damaged codes (see JpegIsMarkerCode) are passed.
int JpegPeekMarker(JpegInputStream* in);
// Puts bytes just taken back in front of the read position.
void JpegUnreadBytes(JpegInputStream* in, const uint8_t* bytes, size_t count);
// At the end of a read that keeps its file: what was read but not used,
// the pending marker included, is where the next read of the file begins.
void JpegKeepUnusedInput(JpegInputStream* in);
// A file opened or closed: nothing read from an earlier one is kept.
void JpegForgetFileInput(JpegInputStream* in);

// Huffman decoding.
void JpegClearBitState(JpegInputStream* in);
// Next data byte of the entropy-coded segment (stuffing and fill bytes
// removed), or -1 when a marker or the end of the data stops the reader.
int JpegNextDataByte(JpegInputStream* in);
// Whether the decoders have run past the end of the entropy-coded data.
inline bool JpegInputExhausted(const JpegInputStream* in) { return in->bits < in->padBits; }
int32_t DecodeBlockSequential(JpegInputStream* in, const JpegHuffmanDecodeTable* dc,
                              const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block);
int32_t DecodeBlockDcOnly(JpegInputStream* in, const JpegHuffmanDecodeTable* dc,
                          const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block);
int32_t DecodeDcFirst(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, int16_t* block, int32_t* lastDc,
                      int al);
int32_t DecodeDcRefine(JpegInputStream* in, int16_t* block, int al);
int32_t DecodeAcFirst(JpegInputStream* in, int16_t* block, const JpegHuffmanDecodeTable* ac, int ss, int se,
                      int al);
int32_t DecodeAcRefine(JpegInputStream* in, int16_t* block, const JpegHuffmanDecodeTable* ac, int ss, int se,
                       int al);

// Inverse transforms and dequantisation.
void PrepareDequantTable(const uint16_t zigzag[64], int32_t natural[64]);
void PrepareDequantTableAan(const uint16_t zigzag[64], int32_t natural[64]);
void DequantizeBlock(int16_t* block, const int32_t* multipliers);
void DequantizeBlockAan(int16_t* block, const int32_t* multipliers);
void DequantizeDcAan(int16_t* block, const int32_t* multipliers);
void InverseDctExact(int16_t* block);
void InverseDctExact4x4(int16_t* block);
void InverseDctExact2x2(int16_t* block);
void InverseDctExact1x1(int16_t* block);
void InverseDctAan(int16_t* block);
void InverseDctAan4x4(int16_t* block);
void InverseDctAan2x2(int16_t* block);
void InverseDctAan1x1(int16_t* block);

// Output.
int32_t JpegSelectOutputConverter(JPEG_PROPERTIES* props);
void JpegFillOutputKernels(JpegRoutineTable* table);
JpegOutputRoutine JpegFastOutputRoutine(int code);
// The general path. Sizes the sample band for the MCU columns given (the
// bytes it takes are added to *bytes); false when it cannot be had.
bool JpegStartBand(JpegDecodeState* state, int firstColumn, int endColumn, uint64_t* bytes);
// Writes one MCU of transformed samples into the band.
void JpegOutMcuToBand(JpegDecodeState* state, int mcuColumn, int mcuRow);
// Upsamples, converts and stores the output rows that the band's MCU rows up
// to mcuRow complete; with lastRow set, every row still owed.
void JpegOutputBand(JPEG_PROPERTIES* props, JpegDecodeState* state, int mcuRow, bool lastRow);

// Scan driver.
int32_t JpegStartImage(JPEG_PROPERTIES* props, JpegDecodeState* state);
int32_t JpegDecodeScans(JPEG_PROPERTIES* props, JpegDecodeState* state);
int32_t JpegFinishImage(JPEG_PROPERTIES* props, JpegDecodeState* state);

// Stream reader; JpegReadStream is the body of JpegRead.
int32_t JpegReadStream(JpegCoreProperties* core, int32_t ioType);
int32_t JpegReadMarkers(JPEG_PROPERTIES* props);
void JpegResetImage(JpegDecodeState* state);
