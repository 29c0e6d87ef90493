// Huffman coding of quantised blocks: the size category, the progressive
// coders with their statistics twins, and optimal tables (T.81 Annex K.2).
#pragma once

#include <cstdint>

#include "common/JpegHuffman.h"
#include "encoder/JpegBitWriter.h"

// Bit length of a magnitude below 65536 (0 for 0).
int JpegSizeCategory(uint32_t magnitude);

constexpr int kJpegCorrectionBits = 1000;
constexpr uint32_t kJpegMaxEobRun = 32767;
constexpr int kJpegFrequencySlots = 257;

// State of one progressive scan. With stream null the coders only count
// symbols into frequencies (the statistics pass); otherwise they write through
// the stream's own writer family.
struct JpegProgressiveCoder {
  JpegOutputStream* stream = nullptr;
  const JpegHuffmanCodeTable* acTable = nullptr;
  uint32_t* acFrequencies = nullptr;
  uint32_t eobRun = 0;
  int be = 0;  // correction bits pending with the EOB run
  uint8_t correction[kJpegCorrectionBits] = {};
};

int EncodeDcProgressive(JpegProgressiveCoder* coder, const JpegHuffmanCodeTable* dc,
                        int32_t* lastDc, const int16_t* block, bool refine, int al);
int CountDcProgressive(uint32_t* frequencies, int32_t* lastDc, const int16_t* block, bool refine,
                       int al);
int EncodeAcFirst(JpegProgressiveCoder* coder, const int16_t* block, int ss, int se, int al);
int EncodeAcRefine(JpegProgressiveCoder* coder, const int16_t* block, int ss, int se, int al);
// Writes (or counts) the pending EOB run and, for refinement, its correction bits.
int EmitEobRun(JpegProgressiveCoder* coder);

// frequencies[257] (the last one reserved); bits[16] counts of lengths 1..16.
void GenerateOptimalHuffmanTable(const uint32_t frequencies[kJpegFrequencySlots], uint8_t bits[16],
                                 uint8_t values[256], int* valueCount);
