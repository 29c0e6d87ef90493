// Constant tables shared by the encoder and the decoder.
#pragma once

#include <cstdint>

// Entry k is the natural (row-major) index of zigzag position k.
extern const uint8_t kJpegZigzag[64];

// ITU-T T.81 Annex K defaults: quantisation tables in zigzag order, Huffman
// tables as 16 code-length counts and their values.
extern const uint8_t kJpegLuminanceQuant[64];
extern const uint8_t kJpegChrominanceQuant[64];
extern const uint8_t kJpegDcLuminanceBits[16];
extern const uint8_t kJpegDcLuminanceValues[12];
extern const uint8_t kJpegDcChrominanceBits[16];
extern const uint8_t kJpegDcChrominanceValues[12];
extern const uint8_t kJpegAcLuminanceBits[16];
extern const uint8_t kJpegAcLuminanceValues[162];
extern const uint8_t kJpegAcChrominanceBits[16];
extern const uint8_t kJpegAcChrominanceValues[162];

// Numerators of the scaled-transform reciprocals, zigzag order.
extern const int32_t kJpegAanNumerators[64];
