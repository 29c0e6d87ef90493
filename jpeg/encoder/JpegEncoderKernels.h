// The plain encoder kernels that fill the routine table's slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/JpegHuffman.h"
#include "encoder/JpegBitWriter.h"

// Forward transforms and quantisers, in place on a 64-entry natural-order block.
void ForwardDctExact(int16_t* block);
void ForwardDctAan(int16_t* block);
void QuantizeBlockU(int16_t* block, const uint16_t* reciprocals);
void QuantizeBlockS(int16_t* block, const uint16_t* reciprocals);

// Huffman block coder of sequential scans (T.81 F.1.2).
int EncodeBlockSequential(JpegOutputStream* stream, const JpegHuffmanCodeTable* dc,
                          const JpegHuffmanCodeTable* ac, int32_t* lastDc, const int16_t* block);

// Full-MCU input kernels, by input routine number.
namespace jpeg_input {
void RgbToYcc_H1V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void BgrToYcc_H1V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void RgbToYcc_H2V2(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void BgrToYcc_H2V2(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void RgbToYcc_H2V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void BgrToYcc_H2V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void InvRgbxToYcck_H1V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void InvRgbxToYcck_H2V2(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void InvRgbxToYcck_H2V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void Copy4_H1V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void Copy3_H1V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void Copy3_H2V2(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void Copy3_H2V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void CopyPacked422_H2V1(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
void CopyGrey(const uint8_t*, ptrdiff_t, int, int16_t* const[4]);
}  // namespace jpeg_input

// Input routine numbers (the routine table's input slots).
enum JpegInputNumber {
  kInputGeneric = 0,
  kInputRgbToYcc_H1V1 = 1,
  kInputBgrToYcc_H1V1 = 2,
  kInputRgbToYcc_H2V2 = 3,
  kInputBgrToYcc_H2V2 = 4,
  kInputRgbToYcc_H2V1 = 5,
  kInputBgrToYcc_H2V1 = 6,
  kInputInvRgbxToYcck_H1V1 = 10,
  kInputInvRgbxToYcck_H2V2 = 11,
  kInputInvRgbxToYcck_H2V1 = 12,
  kInputCopy4_H1V1 = 14,
  kInputCopy3_H1V1 = 15,
  kInputCopy3_H2V2 = 16,
  kInputCopy3_H2V1 = 17,
  kInputCopyPacked422_H2V1 = 18,
  kInputCopyGrey = 20,
};
