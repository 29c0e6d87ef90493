// Quality scaling of the quantisation tables, their reciprocals for the
// forward transforms, and the table step of the header.
#include "common/JpegTables.h"
#include "encoder/JpegEncoder.h"

void JpegScaleQuantTable(int32_t quality, const uint8_t base[64], uint16_t steps[64]) {
  int32_t scale;
  if (quality < 1)
    scale = 5000;
  else if (quality < 50)
    scale = 5000 / quality;
  else if (quality <= 100)
    scale = 200 - 2 * quality;
  else
    scale = 0;
  for (int k = 0; k < 64; ++k) {
    int32_t step = (base[k] * scale + 50) / 100;
    if (step < 1) step = 1;
    if (step > 255) step = 255;
    steps[k] = static_cast<uint16_t>(step);
  }
}

void PrepareQuantReciprocalsExact(uint16_t table[64]) {
  uint16_t reciprocals[64];
  for (int k = 0; k < 64; ++k) reciprocals[kJpegZigzag[k]] = static_cast<uint16_t>(32768 / table[k]);
  for (int i = 0; i < 64; ++i) table[i] = reciprocals[i];
}

void JpegPrepareQuantReciprocals(uint16_t table[64]) {
  // The last numerator (53810) would not fit a signed 16-bit reciprocal of 1.
  if (table[63] < 2) table[63] = 2;
  uint16_t reciprocals[64];
  for (int k = 0; k < 64; ++k) {
    const int32_t step = table[k];
    reciprocals[kJpegZigzag[k]] = static_cast<uint16_t>((step / 2 + kJpegAanNumerators[k]) / step);
  }
  for (int i = 0; i < 64; ++i) table[i] = reciprocals[i];
}

int32_t JpegWriteTables(JPEG_PROPERTIES* props, JpegWorkState* work, bool writeSegments) {
  if (props->dct_method > 1) return -8;
  for (int t = 0; t < work->quantCount; ++t) {
    const int number = work->quantNumber[t];
    uint16_t* steps = work->quantSteps[number];
    JpegScaleQuantTable(props->quality, work->quantBase[t], steps);
    // The scaled transform divides by at least 2 at the last position; the
    // segment declares the step that is actually used.
    if (props->dct_method == 0 && steps[63] < 2) steps[63] = 2;
    if (writeSegments) {
      const int32_t result = JpegWriteDQT(&work->stream, number, steps);
      if (result != 0) return result;
    }
    uint16_t* reciprocals = work->quantWork[number];
    for (int k = 0; k < 64; ++k) reciprocals[k] = steps[k];
    if (props->dct_method == 1)
      PrepareQuantReciprocalsExact(reciprocals);
    else
      JpegPrepareQuantReciprocals(reciprocals);
    work->quantReady[number] = true;
  }
  if (work->progressiveMode) return 0;  // the progressive encoder makes its tables per scan
  if (writeSegments) {
    const int32_t result = JpegWriteDHTAll(&work->stream, work);
    if (result != 0) return result;
  }
  for (int i = 0; i < work->huffmanCount; ++i) {
    const JpegHuffmanSpec& spec = work->huffman[i];
    const int32_t result = JpegDeriveHuffmanCodes(spec.bits, spec.values, &work->codes[spec.tableClass][spec.number]);
    if (result != 0) return result;
    work->codesReady[spec.tableClass][spec.number] = true;
  }
  return 0;
}
