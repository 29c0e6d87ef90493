// Frame set-up of a write: source geometry, components and sampling, MCU
// geometry, and the default tables where the caller supplied none.
#include <cstdint>
#include <cstring>

#include "common/JpegTables.h"
#include "encoder/JpegEncoder.h"

namespace {

struct SamplingMode {
  int components;  // 0: any count, all 1x1
  int factors[4][2];
};

const SamplingMode kSamplingModes[5] = {
    {0, {{1, 1}, {1, 1}, {1, 1}, {1, 1}}},
    {3, {{2, 2}, {1, 1}, {1, 1}, {0, 0}}},
    {3, {{2, 1}, {1, 1}, {1, 1}, {0, 0}}},
    {4, {{2, 2}, {1, 1}, {1, 1}, {2, 2}}},
    {4, {{2, 1}, {1, 1}, {1, 1}, {2, 1}}},
};

bool IsImageType(int32_t ioType) {
  return ioType == WRITE_IMAGE_TO_FILE || ioType == WRITE_IMAGE_TO_BUFFER ||
         ioType == WRITE_ENTROPY_TO_FILE || ioType == WRITE_ENTROPY_TO_BUFFER;
}

void InstallHuffman(JpegHuffmanSpec* spec, const uint8_t bits[16], const uint8_t* values, int count,
                    int tableClass, int number) {
  std::memcpy(spec->bits, bits, 16);
  std::memcpy(spec->values, values, static_cast<size_t>(count));
  spec->valueCount = count;
  spec->tableClass = tableClass;
  spec->number = number;
}

}  // namespace

int32_t JpegSetDefaultTables(JPEG_PROPERTIES* props, JpegWorkState* work) {
  bool callerQuant = false;
  for (const uint8_t* table : props->quant_tables) callerQuant = callerQuant || table != nullptr;
  if (!callerQuant || props->quant_table_count == 0) {
    std::memcpy(work->quantBase[0], kJpegLuminanceQuant, 64);
    std::memcpy(work->quantBase[1], kJpegChrominanceQuant, 64);
    work->quantNumber[0] = 0;
    work->quantNumber[1] = 1;
    work->quantCount = 2;
  } else {
    if (props->quant_table_count > kJpegMaxComponents) return -7;
    work->quantCount = static_cast<int>(props->quant_table_count);
    for (int i = 0; i < work->quantCount; ++i) {
      if (props->quant_tables[i] == nullptr) return -7;
      std::memcpy(work->quantBase[i], props->quant_tables[i], 64);
      work->quantNumber[i] = i;
    }
  }

  bool callerHuffman = false;
  for (int i = 0; i < 8; ++i)
    callerHuffman = callerHuffman || (props->huffman_bits[i] != nullptr && props->huffman_values[i] != nullptr);
  if (callerHuffman && props->huffman_table_count != 0) {
    if (props->huffman_table_count > kJpegMaxComponents) return -6;
    work->huffmanCount = 0;
    for (int i = 0; i < static_cast<int>(props->huffman_table_count) * 2; ++i) {
      if (props->huffman_bits[i] == nullptr || props->huffman_values[i] == nullptr) continue;
      int count = 0;
      for (int l = 0; l < 16; ++l) count += props->huffman_bits[i][l];
      if (count > 256) return -6;
      InstallHuffman(&work->huffman[work->huffmanCount++], props->huffman_bits[i],
                     props->huffman_values[i], count, i & 1, i >> 1);
    }
    for (int c = 0; c < kJpegMaxComponents; ++c) {
      if (props->dc_table_select[c] >= kJpegMaxComponents || props->ac_table_select[c] >= kJpegMaxComponents)
        return -6;
      work->dcSelect[c] = props->dc_table_select[c];
      work->acSelect[c] = props->ac_table_select[c];
    }
    return 0;
  }
  InstallHuffman(&work->huffman[0], kJpegDcLuminanceBits, kJpegDcLuminanceValues, 12, 0, 0);
  InstallHuffman(&work->huffman[1], kJpegAcLuminanceBits, kJpegAcLuminanceValues, 162, 1, 0);
  InstallHuffman(&work->huffman[2], kJpegDcChrominanceBits, kJpegDcChrominanceValues, 12, 0, 1);
  InstallHuffman(&work->huffman[3], kJpegAcChrominanceBits, kJpegAcChrominanceValues, 162, 1, 1);
  for (int i = 4; i < 8; ++i) work->huffman[i] = JpegHuffmanSpec{};
  work->huffmanCount = 4;
  for (int c = 0; c < kJpegMaxComponents; ++c) {
    work->dcSelect[c] = c == 0 ? 0 : 1;
    work->acSelect[c] = c == 0 ? 0 : 1;
  }
  return 0;
}

int32_t JpegFrameSetup(JPEG_PROPERTIES* props, JpegWorkState* work) {
  const bool imageType = IsImageType(props->io_type);

  // These hold even when the caller filled the working record itself: they
  // keep every later step inside the caller's buffer and the fixed tables.
  if (props->jpeg_channels < 1 || props->jpeg_channels > kJpegMaxComponents) return -8;
  if (imageType) {
    if (props->image_bytes == nullptr || props->image_width < 1 || props->image_width > 65535 ||
        props->image_height == 0 || props->image_height < -65535 || props->image_height > 65535 ||
        props->image_channels < 1 || props->image_channels > 255)
      return -8;
    const uint32_t rows = static_cast<uint32_t>(props->image_height < 0 ? -props->image_height
                                                                        : props->image_height);
    if (props->jpeg_width != props->image_width || props->jpeg_height != rows) return -8;
  }

  // Source rows, walked from the picture's top row downwards.
  const bool packed = props->image_subsampling == 2;
  const uint64_t pixelBytes = packed ? 2 : props->image_channels;
  const uint64_t stride = pixelBytes * props->image_width + props->image_pad_bytes;
  const uint64_t rows = static_cast<uint64_t>(props->image_height < 0 ? -static_cast<int64_t>(props->image_height)
                                                                      : props->image_height);
  if (stride > static_cast<uint64_t>(PTRDIFF_MAX) / (rows + 1)) return -5;
  work->pixelBytes = static_cast<int>(pixelBytes);
  work->imageWidth = static_cast<int>(props->image_width);
  work->imageHeight = static_cast<int>(rows);
  work->stride = static_cast<ptrdiff_t>(stride);
  work->imageTop = props->image_bytes;
  if (props->image_height < 0 && props->image_bytes != nullptr) {
    work->imageTop = props->image_bytes + static_cast<ptrdiff_t>((rows - 1) * stride);
    work->stride = -work->stride;
  }

  uint32_t mode = props->jpeg_subsampling;
  if (packed && props->image_color == COLOR_YCBCR && props->jpeg_color == COLOR_YCBCR) mode = SUBSAMPLING_422;
  if (mode > SUBSAMPLING_422_ALPHA) return -3;

  const int32_t tables = JpegSetDefaultTables(props, work);
  if (tables != 0) return tables;

  const uint32_t jc = props->jpeg_color, ic = props->image_color;
  work->colorConvert = !(jc == COLOR_RGB || jc == COLOR_RGBA || ic == COLOR_GRAY || ic == COLOR_OTHER ||
                         ic == COLOR_YCBCR);

  const int count = static_cast<int>(props->jpeg_channels);
  const SamplingMode& sampling = kSamplingModes[mode];
  if (sampling.components != 0 && sampling.components != count) return -3;
  work->componentCount = count;
  work->hMax = work->vMax = 1;
  work->downsample = false;
  for (int c = 0; c < count; ++c) {
    JpegComponentInfo& component = work->components[c];
    component.index = c;
    component.h = sampling.factors[c][0];
    component.v = sampling.factors[c][1];
    if (component.h > work->hMax) work->hMax = component.h;
    if (component.v > work->vMax) work->vMax = component.v;
    if (component.h != 1 || component.v != 1) work->downsample = true;
  }
  if (props->quant_table_count == 0) {
    for (int c = 0; c < count; ++c) {
      int table;
      if (mode == SUBSAMPLING_NONE)
        table = c == 0 ? 0 : (work->colorConvert ? 1 : 0);
      else if (props->color_convert != 0)
        table = (c == 1 || c == 2) ? 1 : 0;
      else
        table = 0;
      work->components[c].quantTable = table;
    }
  }
  if (count == 1) {
    // A single component always codes with tables 0 (its scan header says so).
    work->dcSelect[0] = 0;
    work->acSelect[0] = 0;
  }

  work->mcuWidth = 8 * work->hMax;
  work->mcuHeight = 8 * work->vMax;
  work->mcusPerRow = static_cast<int>((props->jpeg_width + work->mcuWidth - 1) / work->mcuWidth);
  work->mcuRows = static_cast<int>((props->jpeg_height + work->mcuHeight - 1) / work->mcuHeight);
  work->totalMcus = static_cast<int64_t>(work->mcusPerRow) * work->mcuRows;
  work->progressiveMode = props->progressive != 0;
  return 0;
}
