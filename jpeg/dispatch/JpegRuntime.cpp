#include "dispatch/JpegRuntime.h"

#include <cstring>

#include "encoder/JpegBitWriter.h"
#include "decoder/JpegDecoder.h"
#include "encoder/JpegEncoderKernels.h"
#include "simd/JpegSimd.h"

namespace {

// The plain routines leave no processor state behind.
void EndKernelsPlain() {}

// Types 3 to 6 have MMX; 5 adds SSE, 6 SSE2.
bool HasMmx(int cpuType) { return cpuType >= 3 && cpuType <= 6; }

// Replaces the plain routines with the twins the processor type runs.
void FillSimdRoutines(JpegRoutineTable* table, int cpuType) {
#ifdef VYR_JPEG_HAVE_SIMD
  if (!HasMmx(cpuType)) return;
  const bool sse2 = cpuType == 6;
  table->forwardDct[0] = JpegForwardDctMmx;
  table->forwardDct[1] = JpegForwardDctSse2;
  table->quantize[0] = JpegQuantizeFastMmx;
  table->quantize[1] = sse2 ? JpegQuantizeSse2 : JpegQuantizeMmx;
  table->dequantizeExact = sse2 ? JpegDequantSse2 : JpegDequantMmx;
  // One eight-column kernel serves every MMX type: the four-column twins of
  // types 3 to 5 would give the same samples.
  table->inverseDct = JpegIdctSse2;
  table->inverseDctFast[0] = JpegInverseDctFastMmx;
  table->bitWriter = &kJpegSimdBitWriter;
  table->encodeBlock = cpuType == 5 ? JpegEncodeBlockMmx : EncodeBlockFromList;
  table->huffmanDecode[0] = cpuType == 3 ? JpegDecodeBlockMmx : JpegDecodeBlockMmxCmov;
  table->huffmanDecode[1] = JpegSkipBlockMmx;
  JpegFillOutputKernelsSimd(table);
  JpegFillInputKernelsSimd(table);
#else
  (void)cpuType;
#endif
}


}  // namespace

void JpegCopyBytes(void* destination, const void* source, size_t count) {
  if (count != 0) std::memcpy(destination, source, count);
}

void JpegZeroBytes(void* destination, size_t count) {
  if (count != 0) std::memset(destination, 0, count);
}

void JpegFillRoutineTable(JpegRoutineTable* table, int cpuType) {
  std::memset(table, 0, sizeof(*table));
  // Every processor type starts from the plain routines; the SIMD twins
  // then replace single slots by type.
  table->forwardDct[0] = ForwardDctAan;
  table->forwardDct[1] = ForwardDctExact;
  table->quantize[0] = QuantizeBlockS;
  table->quantize[1] = QuantizeBlockU;
  table->bitWriter = &kJpegPlainBitWriter;
  table->encodeBlock = EncodeBlockSequential;

  table->inverseDctFast[0] = InverseDctAan;
  table->inverseDctFast[1] = InverseDctAan4x4;
  table->inverseDctFast[2] = InverseDctAan2x2;
  table->inverseDctFast[3] = InverseDctAan1x1;
  table->inverseDct = InverseDctExact;
  table->inverseDctFurther[0] = InverseDctExact4x4;
  table->inverseDctFurther[1] = InverseDctExact2x2;
  table->inverseDctFurther[2] = InverseDctExact1x1;
  table->dequantizeExact = DequantizeBlock;
  table->dequantizeAan[0] = DequantizeBlockAan;
  table->dequantizeAan[1] = DequantizeDcAan;
  table->huffmanDecode[0] = DecodeBlockSequential;
  table->huffmanDecode[1] = DecodeBlockDcOnly;
  JpegFillOutputKernels(table);

  using namespace jpeg_input;
  JpegInputKernel* input = table->inputKernels;
  input[kInputRgbToYcc_H1V1] = RgbToYcc_H1V1;
  input[kInputBgrToYcc_H1V1] = BgrToYcc_H1V1;
  input[kInputRgbToYcc_H2V2] = RgbToYcc_H2V2;
  input[kInputBgrToYcc_H2V2] = BgrToYcc_H2V2;
  input[kInputRgbToYcc_H2V1] = RgbToYcc_H2V1;
  input[kInputBgrToYcc_H2V1] = BgrToYcc_H2V1;
  input[kInputInvRgbxToYcck_H1V1] = InvRgbxToYcck_H1V1;
  input[kInputInvRgbxToYcck_H2V2] = InvRgbxToYcck_H2V2;
  input[kInputInvRgbxToYcck_H2V1] = InvRgbxToYcck_H2V1;
  input[kInputCopy4_H1V1] = Copy4_H1V1;
  input[kInputCopy3_H1V1] = Copy3_H1V1;
  input[kInputCopy3_H2V2] = Copy3_H2V2;
  input[kInputCopy3_H2V1] = Copy3_H2V1;
  input[kInputCopyPacked422_H2V1] = CopyPacked422_H2V1;
  input[kInputCopyGrey] = CopyGrey;

  FillSimdRoutines(table, cpuType);
}

void JpegInitRuntime(JpegRuntime* runtime) {
  std::memset(runtime, 0, sizeof(*runtime));
  runtime->cpuType = JpegDetectCpu(runtime);
  JpegFillRoutineTable(&runtime->routines, runtime->cpuType);
  runtime->endKernels = EndKernelsPlain;
#ifdef VYR_JPEG_HAVE_SIMD
  if (HasMmx(runtime->cpuType)) runtime->endKernels = JpegEndKernelsMmx;
#endif
}

void JpegReleaseRuntime(JpegRuntime* runtime) {
  std::memset(runtime, 0, sizeof(*runtime));
}
