// Huffman tables in their coding forms (T.81 Annex C): per-symbol codes for the
// encoder, and the decoding form with an 8-bit look-ahead for the decoder.
#pragma once

#include <cstdint>

constexpr int kJpegMaxHuffmanValues = 258;

struct JpegHuffmanCodeTable {
  uint16_t code[256];
  uint8_t length[256];  // 0: the symbol has no code
};

struct JpegHuffmanDecodeTable {
  int32_t tableClass;
  int32_t number;
  int32_t firstIndex[18];  // by code length 1..16; [17] is the sentinel
  int32_t firstCode[18];
  int32_t lastCode[18];  // 65535 when no code has that length
  uint16_t values[kJpegMaxHuffmanValues];
  uint32_t lookAhead[256];  // length * 65536 + value for codes up to 8 bits; 0 otherwise
};

// counts[0..15] are the numbers of codes of length 1..16. Result 0 or -6
// (more than 258 codes, or a code that does not fit its length).
int32_t JpegDeriveHuffmanCodes(const uint8_t counts[16], const uint8_t* values,
                               JpegHuffmanCodeTable* table);
int32_t JpegBuildHuffmanTable(const uint8_t counts[16], const uint8_t* values, int32_t tableClass,
                              int32_t number, JpegHuffmanDecodeTable* table);
