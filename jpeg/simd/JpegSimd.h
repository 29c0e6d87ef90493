// Processor-specific twins of the plain kernels, installed in the routine
// table by processor type. Each computes what its plain routine does, up to
// the rounding its own comment states; the plain routines stay the reference.
#pragma once

#include <cstdint>

#include "common/JpegHuffman.h"
#include "encoder/JpegBitWriter.h"

#if defined(__x86_64__) || defined(__i386__)
#define VYR_JPEG_HAVE_SIMD 1

// Quantisation, fast transform (signed reciprocals): the input is clamped to
// -8192..8191 and the product rounded from its high half, so a result may be
// one below the plain routine's.
void JpegQuantizeFastMmx(int16_t* block, const uint16_t* reciprocals);
// Quantisation, accurate transform (unsigned reciprocals, 32768 allowed).
void JpegQuantizeMmx(int16_t* block, const uint16_t* reciprocals);
void JpegQuantizeSse2(int16_t* block, const uint16_t* reciprocals);

// Accurate forward transform in 32-bit lanes; identical to the plain routine
// for blocks of level-shifted samples.
void JpegForwardDctSse2(int16_t* block);

// Fast forward transform of method 0 in 32-bit lanes; the plain routine's
// coefficients for every input.
void JpegForwardDctMmx(int16_t* block);

// Fast inverse transform of method 0 in 32-bit lanes; the plain routine's
// samples for every input.
void JpegInverseDctFastMmx(int16_t* block);

// Dequantisation: low 16 bits of each product, exactly as the plain routine.
void JpegDequantMmx(int16_t* block, const int32_t* multipliers);
void JpegDequantSse2(int16_t* block, const int32_t* multipliers);

// Accurate inverse transform on 16-bit intermediates with saturation at every
// column step; samples within one of the plain routine for baseline data.
void JpegIdctSse2(int16_t* block);

// The wide bit writer: 64-bit accumulator, four bytes at a time, every
// arrangement of 0xFF bytes stuffed. Its init resets the stream completely.
extern const JpegBitWriterFamily kJpegSimdBitWriter;
// Zigzag copy of the block and the mask of its non-zero entries (bit k for
// zigzag position k); whether there is any.
int JpegScanBlockMmx(const int16_t* block, int16_t* zigzag, uint64_t* nonZero);
// Block encoders over the wide writer, same bits as the plain block encoder:
// from the scan's list of non-zero coefficients, and coefficient by coefficient.
int EncodeBlockFromList(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc, const JpegHuffmanCodeTable* ac,
                        int32_t* lastDc, const int16_t* block);
int JpegEncodeBlockMmx(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc, const JpegHuffmanCodeTable* ac,
                       int32_t* lastDc, const int16_t* block);

// Sequential Huffman block decoders: the plain decoders' coefficients,
// predictor and stream position on any input, with the unread bits at the top
// of the accumulator (a reader state stays with one family for a scan). The
// skip form keeps only the predictor and stores nothing in the block.
struct JpegInputStream;
int32_t JpegDecodeBlockMmx(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, const JpegHuffmanDecodeTable* ac,
                           int32_t* lastDc, int16_t* block);
int32_t JpegDecodeBlockMmxCmov(JpegInputStream* in, const JpegHuffmanDecodeTable* dc,
                               const JpegHuffmanDecodeTable* ac, int32_t* lastDc, int16_t* block);
int32_t JpegSkipBlockMmx(JpegInputStream* in, const JpegHuffmanDecodeTable* dc, const JpegHuffmanDecodeTable* ac,
                         int32_t* lastDc, int16_t* block);

// Places the whole-MCU output twins in fourteen of the output kernel entries
// (the copy entries keep the plain kernels).
struct JpegRoutineTable;
void JpegFillOutputKernelsSimd(JpegRoutineTable* table);

// Places the full-MCU input twins (colour conversions, grey and packed 4:2:2
// copies); the other copies keep the plain kernels.
void JpegFillInputKernelsSimd(JpegRoutineTable* table);

// Clears the MMX state the MMX kernels leave behind.
void JpegEndKernelsMmx();
#endif
