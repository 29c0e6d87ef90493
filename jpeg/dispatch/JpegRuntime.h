// Per-record processor dispatch: the routine table every kernel is called
// through, chosen once per record for the processor type, and the
// process-wide helpers (copy, fill, formatting, CPU identification).
#pragma once

#include <cstddef>
#include <cstdint>

struct JpegWorkState;
struct JpegOutputStream;
struct JpegHuffmanCodeTable;
struct JpegBitWriterFamily;
struct JpegInputStream;
struct JpegHuffmanDecodeTable;
struct JPEG_PROPERTIES;

using JpegForwardDctRoutine = void (*)(int16_t* block);
// Reciprocals in natural order; unsigned for the exact method, signed (stored in
// the same 16 bits) for the scaled one.
using JpegQuantizeRoutine = void (*)(int16_t* block, const uint16_t* reciprocals);
// Converts one complete MCU starting at src; dst holds each component's first block.
using JpegInputKernel = void (*)(const uint8_t* src, ptrdiff_t stride, int pixelBytes,
                                 int16_t* const dst[4]);
// Per-MCU input routine chosen for an image; fills the MCU sample buffer.
using JpegInputRoutine = void (*)(JpegWorkState* work, int mcuColumn, int mcuRow);
using JpegEncodeBlockRoutine = int (*)(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc,
                                       const JpegHuffmanCodeTable* ac, int32_t* lastDc,
                                       const int16_t* block);
// Inverse transform of one block in place: coefficients in, clamped samples out.
using JpegInverseDctRoutine = void (*)(int16_t* block);
using JpegDequantizeRoutine = void (*)(int16_t* block, const int32_t* multipliers);
// Decodes one block of a sequential scan into natural order; 0 or an error code.
using JpegHuffmanDecodeRoutine = int32_t (*)(JpegInputStream* input, const JpegHuffmanDecodeTable* dc,
                                             const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block);
// Writes the decoded MCU at (column, row) into the caller's picture.
using JpegOutputRoutine = void (*)(JPEG_PROPERTIES* props, int mcuColumn, int mcuRow);
// Whole-MCU output kernel: component sample pointers (luma blocks, Cb, Cr,
// fourth component), the MCU's top-left output byte and the line stride.
using JpegOutputKernel = void (*)(const int16_t* const samples[4], uint8_t* out, ptrdiff_t stride);

// Entry 0 holds the output routine chosen for the picture, 1..19 the kernels.
union JpegOutputSlot {
  JpegOutputRoutine routine;
  JpegOutputKernel kernel;
};

constexpr int kJpegInputKernelSlots = 21;   // by input routine number; 15 of them used
constexpr int kJpegOutputKernelSlots = 20;  // output routine, then kernel entries 1..19

struct JpegRoutineTable {
  JpegForwardDctRoutine forwardDct[2];  // by dct_method 0, 1
  JpegQuantizeRoutine quantize[2];      // by dct_method 0, 1
  JpegInverseDctRoutine inverseDctFast[4];  // dct_method 0: 8x8, 4x4, 2x2 and 1x1 output
  JpegInverseDctRoutine inverseDct;         // dct_method 1, 8x8
  JpegInverseDctRoutine inverseDctFurther[3];  // dct_method 1: 4x4, 2x2, 1x1
  JpegDequantizeRoutine dequantizeExact;
  const JpegBitWriterFamily* bitWriter;  // output initialisation and output write
  JpegInputKernel inputKernels[kJpegInputKernelSlots];
  JpegOutputSlot outputKernels[kJpegOutputKernelSlots];
  JpegEncodeBlockRoutine encodeBlock;  // pairs with bitWriter: same family
  JpegHuffmanDecodeRoutine huffmanDecode[2];  // whole block; DC only (the others skipped)
  JpegDequantizeRoutine dequantizeAan[2];      // whole block; DC only

  // Active slots, filled per write.
  JpegForwardDctRoutine activeForwardDct;
  JpegQuantizeRoutine activeQuantize;
  JpegInputRoutine activeInput;
};

struct JpegRuntime {
  int cpuType;  // 0..6
  JpegRoutineTable routines;
  void (*endKernels)();  // clears SIMD state at the end of every read and write
};

struct JpegCpuInfo {
  uint32_t brandIndex;
  uint32_t type;
  uint32_t family;
  uint32_t model;
  uint32_t stepping;
  uint32_t features;
  char vendor[13];
};

constexpr uint32_t kCpuFeatureMmx = 1u << 23;
constexpr uint32_t kCpuFeatureSse = 1u << 25;
constexpr uint32_t kCpuFeatureSse2 = 1u << 26;

void JpegInitRuntime(JpegRuntime* runtime);
void JpegReleaseRuntime(JpegRuntime* runtime);
void JpegFillRoutineTable(JpegRoutineTable* table, int cpuType);

void ReadCpuId(JpegCpuInfo* info);
const JpegCpuInfo& JpegGetCpuInfo();  // filled once per process, thread-safely
int JpegCpuTypeFromInfo(const JpegCpuInfo& info);
int JpegDetectCpu(JpegRuntime* runtime);
// Forced processor type: VYR_JPEG_CPU, else the registry value "USECPU"; -1 when none.
int JpegReadCpuOverride(JpegRuntime* runtime);

void JpegCopyBytes(void* destination, const void* source, size_t count);
void JpegZeroBytes(void* destination, size_t count);
