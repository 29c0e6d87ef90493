#include "common/JpegHuffman.h"

#include <cstring>

namespace {

// Lists code lengths and assigns canonical codes. Returns the code count, or
// -6 when there are too many codes or a code outgrows its length (an
// over-subscribed table).
int AssignCanonicalCodes(const uint8_t counts[16], uint8_t lengths[kJpegMaxHuffmanValues],
                         uint16_t codes[kJpegMaxHuffmanValues]) {
  int total = 0;
  for (int length = 1; length <= 16; ++length) {
    total += counts[length - 1];
    if (total > kJpegMaxHuffmanValues) return -6;
  }
  int index = 0;
  for (int length = 1; length <= 16; ++length)
    for (int i = 0; i < counts[length - 1]; ++i) lengths[index++] = static_cast<uint8_t>(length);

  uint32_t code = 0;
  int length = total > 0 ? lengths[0] : 0;
  for (int i = 0; i < total;) {
    while (i < total && lengths[i] == length) {
      codes[i++] = static_cast<uint16_t>(code);
      ++code;
    }
    // After the codes of one length the next code must still fit that length.
    if (code > (1u << length)) return -6;
    code <<= 1;
    ++length;
  }
  return total;
}

}  // namespace

int32_t JpegDeriveHuffmanCodes(const uint8_t counts[16], const uint8_t* values,
                               JpegHuffmanCodeTable* table) {
  std::memset(table, 0, sizeof(*table));
  uint8_t lengths[kJpegMaxHuffmanValues];
  uint16_t codes[kJpegMaxHuffmanValues];
  const int total = AssignCanonicalCodes(counts, lengths, codes);
  if (total < 0) return total;
  for (int i = 0; i < total; ++i) {
    const uint8_t symbol = values[i];
    if (table->length[symbol] != 0) return -6;  // a symbol listed twice
    table->code[symbol] = codes[i];
    table->length[symbol] = lengths[i];
  }
  return 0;
}

int32_t JpegBuildHuffmanTable(const uint8_t counts[16], const uint8_t* values, int32_t tableClass,
                              int32_t number, JpegHuffmanDecodeTable* table) {
  std::memset(table, 0, sizeof(*table));
  table->tableClass = tableClass;
  table->number = number;
  uint8_t lengths[kJpegMaxHuffmanValues];
  uint16_t codes[kJpegMaxHuffmanValues];
  const int total = AssignCanonicalCodes(counts, lengths, codes);
  if (total < 0) return total;

  int index = 0;
  for (int length = 1; length <= 16; ++length) {
    const int count = counts[length - 1];
    table->firstIndex[length] = index;
    if (count > 0) {
      table->firstCode[length] = codes[index];
      table->lastCode[length] = codes[index + count - 1];
    } else {
      table->firstCode[length] = 0;
      table->lastCode[length] = 65535;
    }
    index += count;
  }
  table->firstIndex[17] = index;
  table->firstCode[17] = 0;
  table->lastCode[17] = 0x7FFFFFFF;  // every 17-bit prefix ends the search

  for (int i = 0; i < total; ++i) table->values[i] = values[i];

  for (int i = 0; i < total && lengths[i] <= 8; ++i) {
    const int shift = 8 - lengths[i];
    const uint32_t first = static_cast<uint32_t>(codes[i]) << shift;
    for (uint32_t entry = 0; entry < (1u << shift); ++entry)
      table->lookAhead[first + entry] = static_cast<uint32_t>(lengths[i]) * 65536u + values[i];
  }
  return 0;
}
