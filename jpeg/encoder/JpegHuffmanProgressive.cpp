// Progressive Huffman coders (T.81 G.1.2): DC first and refinement, AC first
// and refinement with end-of-band runs and correction bits. With no stream the
// same walk counts symbols for the optimal tables.
#include <cstdlib>

#include "common/JpegTables.h"
#include "encoder/JpegHuffmanEncode.h"

namespace {

int PutSymbol(JpegProgressiveCoder* coder, const JpegHuffmanCodeTable* table, uint32_t* frequencies,
              int symbol) {
  if (coder->stream == nullptr) {
    ++frequencies[symbol];
    return 0;
  }
  if (table->length[symbol] == 0) return -6;
  return coder->stream->family->putBits(coder->stream, table->code[symbol], table->length[symbol]);
}

int PutRawBits(JpegProgressiveCoder* coder, uint32_t value, int count) {
  if (coder->stream == nullptr || count == 0) return 0;
  return coder->stream->family->putBits(coder->stream, value & ((1u << count) - 1u), count);
}

int EmitCorrectionBits(JpegProgressiveCoder* coder, const uint8_t* bits, int count) {
  if (coder->stream == nullptr) return 0;
  for (int i = 0; i < count; ++i) {
    const int result = coder->stream->family->putBits(coder->stream, bits[i], 1);
    if (result != 0) return result;
  }
  return 0;
}

int EmitZrl(JpegProgressiveCoder* coder, int* run) {
  *run -= 16;
  return PutSymbol(coder, coder->acTable, coder->acFrequencies, 0xF0);
}

int FloorLog2(uint32_t value) {
  int n = 0;
  while (value > 1) {
    value >>= 1;
    ++n;
  }
  return n;
}

}  // namespace

int EmitEobRun(JpegProgressiveCoder* coder) {
  if (coder->eobRun > 0) {
    const int n = FloorLog2(coder->eobRun);
    int result = PutSymbol(coder, coder->acTable, coder->acFrequencies, n * 16);
    if (result == 0) result = PutRawBits(coder, coder->eobRun, n);
    if (result != 0) return result;
    coder->eobRun = 0;
  }
  const int result = EmitCorrectionBits(coder, coder->correction, coder->be);
  coder->be = 0;
  return result;
}

int EncodeDcProgressive(JpegProgressiveCoder* coder, const JpegHuffmanCodeTable* dc,
                        int32_t* lastDc, const int16_t* block, bool refine, int al) {
  const int32_t value = block[0] >> al;
  if (refine) return PutRawBits(coder, static_cast<uint32_t>(value) & 1u, 1);
  const int32_t diff = value - *lastDc;
  *lastDc = value;
  const int size = JpegSizeCategory(static_cast<uint32_t>(std::abs(diff)));
  if (coder->stream == nullptr) return 0;
  if (dc->length[size] == 0) return -6;
  const int result = coder->stream->family->putBits(coder->stream, dc->code[size], dc->length[size]);
  if (result != 0) return result;
  return PutRawBits(coder, static_cast<uint32_t>(diff < 0 ? diff - 1 : diff), size);
}

int CountDcProgressive(uint32_t* frequencies, int32_t* lastDc, const int16_t* block, bool refine,
                       int al) {
  if (refine) return 0;
  const int32_t value = block[0] >> al;
  const int32_t diff = value - *lastDc;
  *lastDc = value;
  ++frequencies[JpegSizeCategory(static_cast<uint32_t>(std::abs(diff)))];
  return 0;
}

int EncodeAcFirst(JpegProgressiveCoder* coder, const int16_t* block, int ss, int se, int al) {
  int run = 0;
  for (int k = ss; k <= se; ++k) {
    const int32_t c = block[kJpegZigzag[k]];
    if (c == 0) {
      ++run;
      continue;
    }
    int32_t magnitude;
    uint32_t bits;
    if (c < 0) {
      magnitude = (-c) >> al;
      bits = ~static_cast<uint32_t>(magnitude);
    } else {
      magnitude = c >> al;
      bits = static_cast<uint32_t>(magnitude);
    }
    if (magnitude == 0) {
      ++run;
      continue;
    }
    int result = EmitEobRun(coder);
    while (result == 0 && run > 15) result = EmitZrl(coder, &run);
    if (result != 0) return result;
    const int size = JpegSizeCategory(static_cast<uint32_t>(magnitude));
    result = PutSymbol(coder, coder->acTable, coder->acFrequencies, run * 16 + size);
    if (result == 0) result = PutRawBits(coder, bits, size);
    if (result != 0) return result;
    run = 0;
  }
  if (run > 0) {
    ++coder->eobRun;
    if (coder->eobRun == kJpegMaxEobRun) return EmitEobRun(coder);
  }
  return 0;
}

int EncodeAcRefine(JpegProgressiveCoder* coder, const int16_t* block, int ss, int se, int al) {
  int32_t magnitudes[64];
  int eobPosition = 0;
  for (int k = ss; k <= se; ++k) {
    magnitudes[k] = std::abs(static_cast<int32_t>(block[kJpegZigzag[k]])) >> al;
    if (magnitudes[k] == 1) eobPosition = k;
  }
  int run = 0;
  int br = 0;
  uint8_t* brBits = coder->correction + coder->be;  // this block's bits follow the pending ones
  for (int k = ss; k <= se; ++k) {
    const int32_t magnitude = magnitudes[k];
    if (magnitude == 0) {
      ++run;
      continue;
    }
    while (run > 15 && k <= eobPosition) {
      int result = EmitEobRun(coder);
      if (result == 0) result = EmitZrl(coder, &run);
      if (result == 0) result = EmitCorrectionBits(coder, brBits, br);
      if (result != 0) return result;
      brBits = coder->correction;
      br = 0;
    }
    if (magnitude > 1) {
      brBits[br++] = static_cast<uint8_t>(magnitude & 1);
      continue;
    }
    int result = EmitEobRun(coder);
    if (result == 0) result = PutSymbol(coder, coder->acTable, coder->acFrequencies, run * 16 + 1);
    if (result == 0) result = PutRawBits(coder, block[kJpegZigzag[k]] < 0 ? 0u : 1u, 1);
    if (result == 0) result = EmitCorrectionBits(coder, brBits, br);
    if (result != 0) return result;
    brBits = coder->correction;
    br = 0;
    run = 0;
  }
  if (run > 0 || br > 0) {
    ++coder->eobRun;
    coder->be += br;
    if (coder->eobRun == kJpegMaxEobRun || coder->be > kJpegCorrectionBits - 63)
      return EmitEobRun(coder);
  }
  return 0;
}

void GenerateOptimalHuffmanTable(const uint32_t frequencies[kJpegFrequencySlots], uint8_t bits[16],
                                 uint8_t values[256], int* valueCount) {
  constexpr int kMaxCodeLength = 32;
  uint64_t freq[kJpegFrequencySlots];
  int codeSize[kJpegFrequencySlots] = {};
  int others[kJpegFrequencySlots];
  int counts[kMaxCodeLength + 1] = {};
  for (int i = 0; i < kJpegFrequencySlots; ++i) {
    freq[i] = frequencies[i];
    others[i] = -1;
  }
  freq[256] = 1;  // reserved: no real symbol gets the all-ones code

  for (;;) {
    int c1 = -1;
    uint64_t v = UINT64_MAX;
    for (int i = 0; i < kJpegFrequencySlots; ++i)
      if (freq[i] != 0 && freq[i] <= v) {
        v = freq[i];
        c1 = i;
      }
    int c2 = -1;
    v = UINT64_MAX;
    for (int i = 0; i < kJpegFrequencySlots; ++i)
      if (freq[i] != 0 && freq[i] <= v && i != c1) {
        v = freq[i];
        c2 = i;
      }
    if (c2 < 0) break;
    freq[c1] += freq[c2];
    freq[c2] = 0;
    ++codeSize[c1];
    while (others[c1] >= 0) {
      c1 = others[c1];
      ++codeSize[c1];
    }
    others[c1] = c2;
    ++codeSize[c2];
    while (others[c2] >= 0) {
      c2 = others[c2];
      ++codeSize[c2];
    }
  }

  for (int i = 0; i < kJpegFrequencySlots; ++i)
    if (codeSize[i] != 0) ++counts[codeSize[i] > kMaxCodeLength ? kMaxCodeLength : codeSize[i]];

  // Figure K.3: limit the code lengths to 16 bits.
  for (int i = kMaxCodeLength; i > 16; --i) {
    while (counts[i] > 0) {
      int j = i - 2;
      while (counts[j] == 0) --j;
      counts[i] -= 2;
      counts[i - 1] += 1;
      counts[j + 1] += 2;
      counts[j] -= 1;
    }
  }
  // Remove the reserved symbol's code from the longest length.
  int longest = 16;
  while (longest > 0 && counts[longest] == 0) --longest;
  if (longest > 0) --counts[longest];

  for (int i = 0; i < 16; ++i) bits[i] = static_cast<uint8_t>(counts[i + 1]);
  int p = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length)
    for (int symbol = 0; symbol < 256; ++symbol)
      if (codeSize[symbol] == length) values[p++] = static_cast<uint8_t>(symbol);
  *valueCount = p;
}
