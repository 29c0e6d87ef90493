// Encoder input stage: the choice of input routine per image, the per-MCU
// routines with their edge handling, and the generic conversions that have no
// full-MCU kernel.
#include "encoder/JpegInputConvert.h"

#include <cstring>

#include "JpegCodec.h"
#include "JpegWorkState.h"
#include "encoder/JpegEncoderKernels.h"

namespace {

constexpr int kMaxMcuSide = 16;

inline int Luma(int r, int g, int b) { return (77 * r + 150 * g + 29 * b - 32640) >> 8; }
inline int ChromaB(int r, int g, int b) { return (-43 * r - 85 * g + 128 * b + 128) >> 8; }
inline int ChromaR(int r, int g, int b) { return (128 * r - 107 * g - 21 * b + 128) >> 8; }

// Address of the MCU's top-left pixel and the part of it inside the image.
const uint8_t* McuSource(const JpegWorkState* work, int column, int row, int* validWidth,
                         int* validHeight) {
  *validWidth = work->mcuWidth;
  *validHeight = work->mcuHeight;
  if (column == work->mcusPerRow - 1 && work->imageWidth % work->mcuWidth != 0)
    *validWidth = work->imageWidth % work->mcuWidth;
  if (row == work->mcuRows - 1 && work->imageHeight % work->mcuHeight != 0)
    *validHeight = work->imageHeight % work->mcuHeight;
  return work->imageTop + static_cast<ptrdiff_t>(row) * work->mcuHeight * work->stride +
         static_cast<ptrdiff_t>(column) * work->mcuWidth * work->pixelBytes;
}

// Full-resolution sample planes of one MCU, level-shifted.
struct SamplePlanes {
  int16_t p[4][kMaxMcuSide][kMaxMcuSide];
};

void ReplicateEdges(SamplePlanes* planes, int planeCount, int width, int height, int validWidth,
                    int validHeight) {
  for (int c = 0; c < planeCount; ++c) {
    for (int y = 0; y < validHeight; ++y)
      for (int x = validWidth; x < width; ++x) planes->p[c][y][x] = planes->p[c][y][validWidth - 1];
    for (int y = validHeight; y < height; ++y)
      std::memcpy(planes->p[c][y], planes->p[c][validHeight - 1], sizeof(planes->p[c][y]));
  }
}

// Writes every component from full-resolution planes, averaging over each
// component's area with rounding (sum + n/2) >> log2(n).
void PlanesToBlocks(JpegWorkState* work, const SamplePlanes& planes) {
  for (int c = 0; c < work->componentCount; ++c) {
    const JpegComponentInfo& component = work->components[c];
    const int areaWidth = work->hMax / component.h;
    const int areaHeight = work->vMax / component.v;
    const int count = areaWidth * areaHeight;
    const int shift = count == 4 ? 2 : count == 2 ? 1 : 0;
    int16_t* blocks = work->componentBlocks[c];
    for (int by = 0; by < component.v; ++by)
      for (int bx = 0; bx < component.h; ++bx) {
        int16_t* block = blocks + (by * component.h + bx) * 64;
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) {
            const int px = (bx * 8 + x) * areaWidth;
            const int py = (by * 8 + y) * areaHeight;
            int sum = 0;
            for (int dy = 0; dy < areaHeight; ++dy)
              for (int dx = 0; dx < areaWidth; ++dx) sum += planes.p[c][py + dy][px + dx];
            block[y * 8 + x] = static_cast<int16_t>((sum + count / 2) >> shift);
          }
      }
  }
}

// Raw bytes of the MCU, one plane per requested byte of a pixel, with the
// last valid column and row repeated beyond the image.
struct RawPlanes {
  uint8_t p[4][kMaxMcuSide][kMaxMcuSide];
};

void GatherRaw(const JpegWorkState* work, const uint8_t* source, int validWidth, int validHeight,
               int planeCount, RawPlanes* raw) {
  const int pixelBytes = work->pixelBytes;
  for (int y = 0; y < work->mcuHeight; ++y) {
    const uint8_t* row = source + (y < validHeight ? y : validHeight - 1) * work->stride;
    for (int x = 0; x < work->mcuWidth; ++x) {
      const uint8_t* pixel = row + (x < validWidth ? x : validWidth - 1) * pixelBytes;
      for (int c = 0; c < planeCount; ++c) raw->p[c][y][x] = pixel[c];
    }
  }
}

void WriteLumaPlane(JpegWorkState* work, int component, const int16_t values[kMaxMcuSide][kMaxMcuSide]) {
  const JpegComponentInfo& info = work->components[component];
  for (int by = 0; by < info.v; ++by)
    for (int bx = 0; bx < info.h; ++bx) {
      int16_t* block = work->componentBlocks[component] + (by * info.h + bx) * 64;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) block[y * 8 + x] = values[by * 8 + y][bx * 8 + x];
    }
}

// RGB with a spare byte (the snapshot road): Y per pixel; chroma from the
// average of R, G and B over the component's area.
void ConvertDownsampleGeneric(JpegWorkState* work, int column, int row) {
  int validWidth, validHeight;
  const uint8_t* source = McuSource(work, column, row, &validWidth, &validHeight);
  const bool inverted = work->invertInput;
  const int planeCount = inverted && work->componentCount == 4 ? 4 : 3;
  RawPlanes raw;
  GatherRaw(work, source, validWidth, validHeight, planeCount, &raw);
  const int invert = inverted ? 255 : 0;
  auto value = [&](int c, int y, int x) {
    const int v = raw.p[c][y][x];
    return inverted ? invert - v : v;
  };

  int16_t luma[kMaxMcuSide][kMaxMcuSide];
  for (int y = 0; y < work->mcuHeight; ++y)
    for (int x = 0; x < work->mcuWidth; ++x)
      luma[y][x] = static_cast<int16_t>(Luma(value(0, y, x), value(1, y, x), value(2, y, x)));
  WriteLumaPlane(work, 0, luma);

  for (int c = 1; c < work->componentCount; ++c) {
    const JpegComponentInfo& info = work->components[c];
    const int areaWidth = work->hMax / info.h;
    const int areaHeight = work->vMax / info.v;
    const int count = areaWidth * areaHeight;
    int16_t* block = work->componentBlocks[c];
    for (int y = 0; y < 8 * info.v; ++y)
      for (int x = 0; x < 8 * info.h; ++x) {
        int sums[4] = {};
        for (int dy = 0; dy < areaHeight; ++dy)
          for (int dx = 0; dx < areaWidth; ++dx)
            for (int p = 0; p < planeCount; ++p) sums[p] += raw.p[p][y * areaHeight + dy][x * areaWidth + dx];
        int averages[4];
        for (int p = 0; p < planeCount; ++p) {
          averages[p] = (sums[p] + count / 2) / count;
          if (inverted && p < 3) averages[p] = 255 - averages[p];
        }
        int16_t sample;
        if (c == 1)
          sample = static_cast<int16_t>(ChromaB(averages[0], averages[1], averages[2]));
        else if (c == 2)
          sample = static_cast<int16_t>(ChromaR(averages[0], averages[1], averages[2]));
        else
          sample = static_cast<int16_t>(averages[3] - 128);
        const int offset = ((y >> 3) * info.h + (x >> 3)) * 64 + (y & 7) * 8 + (x & 7);
        block[offset] = sample;
      }
  }
}

// Components taken byte for byte (through sourceByte), averaged over each
// component's area; also the plain copy when nothing is downsampled.
void DownsampleGeneric(JpegWorkState* work, int column, int row) {
  int validWidth, validHeight;
  const uint8_t* source = McuSource(work, column, row, &validWidth, &validHeight);
  SamplePlanes planes;
  const int pixelBytes = work->pixelBytes;
  for (int y = 0; y < work->mcuHeight; ++y) {
    const uint8_t* line = source + (y < validHeight ? y : validHeight - 1) * work->stride;
    for (int x = 0; x < work->mcuWidth; ++x) {
      const uint8_t* pixel = line + (x < validWidth ? x : validWidth - 1) * pixelBytes;
      for (int c = 0; c < work->componentCount; ++c) {
        const int byte = work->sourceByte[c];
        planes.p[c][y][x] = static_cast<int16_t>(byte < 0 ? 0 : pixel[byte] - 128);
      }
    }
  }
  PlanesToBlocks(work, planes);
}

void CopyGeneric(JpegWorkState* work, int column, int row) { DownsampleGeneric(work, column, row); }

// Luma only, from the first three bytes in the layout's order.
void RgbToGrey(JpegWorkState* work, int column, int row) {
  int validWidth, validHeight;
  const uint8_t* source = McuSource(work, column, row, &validWidth, &validHeight);
  RawPlanes raw;
  GatherRaw(work, source, validWidth, validHeight, 3, &raw);
  const int red = work->sourceByte[0] == 2 ? 2 : 0;
  const int blue = 2 - red;
  const int invert = work->invertInput ? 255 : 0;
  int16_t luma[kMaxMcuSide][kMaxMcuSide];
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const int r = raw.p[red][y][x], g = raw.p[1][y][x], b = raw.p[blue][y][x];
      luma[y][x] = static_cast<int16_t>(work->invertInput ? Luma(invert - r, invert - g, invert - b)
                                                          : Luma(r, g, b));
    }
  WriteLumaPlane(work, 0, luma);
}

// Numbered routines: the full-MCU kernel of the routine table, or the edge
// routine for an MCU cut by the image border.
void NumberedInput(JpegWorkState* work, int column, int row) {
  int validWidth, validHeight;
  const uint8_t* source = McuSource(work, column, row, &validWidth, &validHeight);
  if (validWidth == work->mcuWidth && validHeight == work->mcuHeight)
    work->inputKernel(source, work->stride, work->pixelBytes, work->componentBlocks);
  else
    JpegInputEdge(work, source, validWidth, validHeight);
}

bool Sampling(const JpegWorkState* work, std::initializer_list<int> factors) {
  int i = 0;
  for (auto it = factors.begin(); it != factors.end(); it += 2, ++i)
    if (work->components[i].h != it[0] || work->components[i].v != it[1]) return false;
  return i == work->componentCount;
}

}  // namespace

void JpegInputEdge(JpegWorkState* work, const uint8_t* source, int validWidth, int validHeight) {
  SamplePlanes planes;
  const int number = work->inputNumber;
  const int pixelBytes = work->pixelBytes;
  int planeCount = work->componentCount;

  if (number == kInputCopyPacked422_H2V1) {
    // Luma per pixel, chroma per pair as it stands; an odd last pixel takes Cr
    // from the preceding pair, or neutral chroma when there is none.
    for (int y = 0; y < validHeight; ++y) {
      const uint8_t* line = source + y * work->stride;
      for (int x = 0; x < validWidth; ++x) {
        const uint8_t* pair = line + (x / 2) * 4;
        planes.p[0][y][x] = static_cast<int16_t>(pair[(x & 1) * 2] - 128);
      }
      for (int pair = 0; pair * 2 < validWidth; ++pair) {
        const uint8_t* p = line + pair * 4;
        const bool complete = pair * 2 + 1 < validWidth;
        planes.p[1][y][pair] = static_cast<int16_t>(p[1] - 128);
        planes.p[2][y][pair] =
            static_cast<int16_t>(complete ? p[3] - 128 : pair > 0 ? p[-1] - 128 : 0);
      }
    }
    ReplicateEdges(&planes, 1, work->mcuWidth, work->mcuHeight, validWidth, validHeight);
    // Chroma planes are at half width already.
    const int chromaValid = (validWidth + 1) / 2;
    for (int c = 1; c < 3; ++c) {
      for (int y = 0; y < validHeight; ++y)
        for (int x = chromaValid; x < 8; ++x) planes.p[c][y][x] = planes.p[c][y][chromaValid - 1];
      for (int y = validHeight; y < 8; ++y)
        std::memcpy(planes.p[c][y], planes.p[c][validHeight - 1], sizeof(planes.p[c][y]));
    }
    WriteLumaPlane(work, 0, planes.p[0]);
    for (int c = 1; c < 3; ++c)
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) work->componentBlocks[c][y * 8 + x] = planes.p[c][y][x];
    return;
  }

  const bool colour = number >= kInputRgbToYcc_H1V1 && number <= kInputInvRgbxToYcck_H2V1;
  const bool bgr = number == kInputBgrToYcc_H1V1 || number == kInputBgrToYcc_H2V2 ||
                   number == kInputBgrToYcc_H2V1;
  const bool inverted = number >= kInputInvRgbxToYcck_H1V1 && number <= kInputInvRgbxToYcck_H2V1;
  for (int y = 0; y < validHeight; ++y) {
    const uint8_t* line = source + y * work->stride;
    for (int x = 0; x < validWidth; ++x) {
      const uint8_t* p = line + x * pixelBytes;
      if (colour) {
        int r = p[bgr ? 2 : 0], g = p[1], b = p[bgr ? 0 : 2];
        if (inverted) {
          r = 255 - r;
          g = 255 - g;
          b = 255 - b;
          planes.p[3][y][x] = static_cast<int16_t>(p[3] - 128);
        }
        planes.p[0][y][x] = static_cast<int16_t>(Luma(r, g, b));
        planes.p[1][y][x] = static_cast<int16_t>(ChromaB(r, g, b));
        planes.p[2][y][x] = static_cast<int16_t>(ChromaR(r, g, b));
      } else {
        for (int c = 0; c < planeCount; ++c) planes.p[c][y][x] = static_cast<int16_t>(p[c] - 128);
      }
    }
  }
  ReplicateEdges(&planes, planeCount, work->mcuWidth, work->mcuHeight, validWidth, validHeight);
  PlanesToBlocks(work, planes);
}

int32_t JpegSelectInputConverter(JpegWorkState* work, const JPEG_PROPERTIES* props,
                                 JpegRoutineTable* routines) {
  work->inputNumber = 0;
  work->input = nullptr;
  work->inputKernel = nullptr;
  const int components = work->componentCount;
  const bool convert = work->colorConvert;
  const bool down = work->downsample;
  if (convert && down && (components < 1 || components > 255)) return -14;

  const int channels = static_cast<int>(props->image_channels);
  const uint32_t colour = props->image_color;
  const bool packed = props->image_subsampling == 2;

  int16_t* next = work->mcu;
  for (int c = 0; c < components; ++c) {
    work->componentBlocks[c] = next;
    next += work->components[c].h * work->components[c].v * 64;
  }
  for (int c = 0; c < kJpegMaxComponents; ++c) work->sourceByte[c] = c;
  work->invertInput = false;

  const bool s420 = Sampling(work, {2, 2, 1, 1, 1, 1});
  const bool s422 = Sampling(work, {2, 1, 1, 1, 1, 1});
  JpegInputRoutine routine = nullptr;
  int number = -1;

  if (convert && down) {
    if (components == 4 && channels == 4 && colour == COLOR_RGBA) {
      if (Sampling(work, {2, 2, 1, 1, 1, 1, 2, 2})) number = kInputInvRgbxToYcck_H2V2;
      if (Sampling(work, {2, 1, 1, 1, 1, 1, 2, 1})) number = kInputInvRgbxToYcck_H2V1;
    } else if (components == 3 && channels == 3 && colour == COLOR_RGB) {
      if (s420) number = kInputRgbToYcc_H2V2;
      if (s422) number = kInputRgbToYcc_H2V1;
    } else if (components == 3 && channels == 4 && colour == COLOR_RGB && (s420 || s422)) {
      routine = ConvertDownsampleGeneric;
    } else if (components == 3 && channels == 3 && colour == COLOR_BGR) {
      if (s420) number = kInputBgrToYcc_H2V2;
      if (s422) number = kInputBgrToYcc_H2V1;
    }
  } else if (!convert && down) {
    if (packed && components == 3 && s422) {
      number = kInputCopyPacked422_H2V1;
    } else if ((components == 3 && channels == 1) || components != 3 || channels != 3 ||
               colour == COLOR_BGR) {
      routine = DownsampleGeneric;
    } else if (s420) {
      number = kInputCopy3_H2V2;
    } else if (s422) {
      number = kInputCopy3_H2V1;
    }
  } else if (convert && !down) {
    if (components == 1 && channels >= 3 && (colour == COLOR_RGB || colour == COLOR_BGR)) {
      routine = RgbToGrey;
    } else if (components == 3 && channels == 3 && colour == COLOR_RGB) {
      number = kInputRgbToYcc_H1V1;
    } else if (components == 3 && channels == 3 && colour == COLOR_BGR) {
      number = kInputBgrToYcc_H1V1;
    } else if (components == 3 && channels == 4 && (colour == COLOR_RGB || colour == COLOR_RGBA)) {
      routine = ConvertDownsampleGeneric;
      work->invertInput = colour != COLOR_RGB;
    } else if (components == 4 && channels == 4 && colour == COLOR_RGBA) {
      number = kInputInvRgbxToYcck_H1V1;
    }
  } else {
    if (components == 1 && colour == COLOR_GRAY && props->jpeg_color == COLOR_GRAY) {
      number = kInputCopyGrey;
    } else if (components == 3 && channels == 1 && props->jpeg_color == COLOR_YCBCR) {
      routine = CopyGeneric;
    } else if (components == 3 && channels == 3 && colour == COLOR_BGR) {
      routine = CopyGeneric;
    } else if (components == 3 && channels == 3) {
      number = kInputCopy3_H1V1;
    } else if (components == 3 && channels == 4) {
      routine = CopyGeneric;
    } else if (components == 4 && channels >= 4) {
      number = kInputCopy4_H1V1;
    } else if (components != 3 && components != 4 && colour == COLOR_OTHER &&
               props->jpeg_color == COLOR_OTHER && components <= channels) {
      routine = CopyGeneric;
    }
  }

  // Grey into colour components: chroma is neutral. BGR bytes into an RGB
  // frame: components take R, G, B from bytes 2, 1, 0.
  if (channels == 1 && components > 1)
    for (int c = 1; c < kJpegMaxComponents; ++c) work->sourceByte[c] = -1;
  if (colour == COLOR_BGR) {
    work->sourceByte[0] = 2;
    work->sourceByte[2] = 0;
  }
  if (routine == RgbToGrey) work->invertInput = colour == COLOR_RGBA;

  if (number > 0) {
    work->inputNumber = number;
    work->inputKernel = routines->inputKernels[number];
    if (work->inputKernel == nullptr) return -12;
    routine = NumberedInput;
  }
  if (routine == nullptr) return -12;
  work->input = routine;
  routines->activeInput = routine;
  return 0;
}
