// The general output path: every combination the fast family does not cover
// (other samplings, smooth upsampling, reduced scales, copies between colour
// layouts). Transformed blocks go into a band of sample rows per component,
// one MCU row deep and as wide as the output; as soon as an MCU row is
// complete, the output rows it finishes are upsampled, converted and stored.
#include <algorithm>

#include "JpegWorkState.h"
#include "decoder/JpegDecoder.h"

namespace {

inline uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One component's band as the upsampler sees it, in sample coordinates of
// the whole picture at this scale.
struct PlaneView {
  const uint8_t* samples;
  int stride;     // band width
  int rows;       // band rows; sample row y lives in band row y % rows
  int originX;    // picture sample column of the band's first column
  int factorX;    // output pixels per sample
  int factorY;
  int lastX;      // last sample inside the picture
  int lastY;
  bool triangle;  // smooth upsampling of 2x1 or 2x2 chroma
};

inline const uint8_t* Line(const PlaneView& p, int y) {
  y = std::min(std::max(y, 0), p.lastY);
  return p.samples + static_cast<size_t>(y % p.rows) * p.stride;
}

inline int Column(const PlaneView& p, int x) {
  x = std::min(std::max(x, 0), p.lastX) - p.originX;
  return std::min(std::max(x, 0), p.stride - 1);
}

// Upsamples output pixels [left, right) of output row y into row.
void UpsampleRow(const PlaneView& p, int y, int left, int right, uint8_t* row) {
  const int sy = y / p.factorY;
  const uint8_t* line = Line(p, sy);
  if (!p.triangle) {
    if (p.factorX == 1 && left >= p.originX && right - 1 <= p.lastX) {
      std::copy(line + left - p.originX, line + right - p.originX, row);
      return;
    }
    for (int x = left; x < right; ++x) row[x - left] = line[Column(p, x / p.factorX)];
    return;
  }
  // Triangle filter: each output pixel weighs its sample 3 to 1 against the
  // nearer neighbour, in each direction that is upsampled.
  const uint8_t* near = p.factorY == 2 ? Line(p, (y & 1) == 0 ? sy - 1 : sy + 1) : line;
  for (int x = left; x < right; ++x) {
    const int sx = Column(p, x / 2);
    const int nx = Column(p, (x & 1) == 0 ? x / 2 - 1 : x / 2 + 1);
    if (p.factorY == 1) {
      const int c = line[sx], n = line[nx];
      row[x - left] = static_cast<uint8_t>((x & 1) == 0 ? (3 * c + n + 1) >> 2 : (3 * c + n + 2) >> 2);
    } else {
      const int c = 3 * line[sx] + near[sx];
      const int n = 3 * line[nx] + near[nx];
      row[x - left] = static_cast<uint8_t>((x & 1) == 0 ? (3 * c + n + 8) >> 4 : (3 * c + n + 7) >> 4);
    }
  }
}

void ConvertYcc(int yv, int cb, int cr, int* r, int* g, int* b) {
  *r = Clamp(yv + ((359 * cr - 45813) >> 8));
  *g = Clamp(yv + ((34806 - 88 * cb - 183 * cr) >> 8));
  *b = Clamp(yv + ((454 * cb - 57937) >> 8));
}

}  // namespace

bool JpegStartBand(JpegDecodeState* s, int firstColumn, int endColumn, uint64_t* bytes) {
  s->bandFirstColumn = firstColumn;
  s->bandEndColumn = endColumn;
  s->outputRow = s->target.write.top;
  uint64_t total = 0;
  for (int c = 0; c < s->componentCount; ++c) {
    const JpegFrameComponent& comp = s->components[c];
    s->bandWidth[c] = std::max(endColumn - firstColumn, 1) * comp.h * s->planeBlock[c];
    // The MCU row being decoded and two rows before it: an output row still
    // owed reaches at most one sample row back, its filter one more.
    s->bandRows[c] = comp.v * s->planeBlock[c] + 2;
    total += static_cast<uint64_t>(s->bandWidth[c]) * s->bandRows[c];
  }
  *bytes += total;
  if (*bytes > kJpegMaxImageBytes) return false;
  for (int c = 0; c < s->componentCount; ++c)
    s->band[c].assign(static_cast<size_t>(s->bandWidth[c]) * s->bandRows[c], 0);
  return true;
}

void JpegOutMcuToBand(JpegDecodeState* s, int mcuColumn, int mcuRow) {
  for (int c = 0; c < s->componentCount; ++c) {
    const JpegFrameComponent& comp = s->components[c];
    const int size = s->planeBlock[c];
    for (int i = 0; i < comp.v; ++i)
      for (int j = 0; j < comp.h; ++j) {
        const int16_t* block = s->componentBlocks[c] + (i * comp.h + j) * 64;
        const int px = ((mcuColumn - s->bandFirstColumn) * comp.h + j) * size;
        const int py = (mcuRow * comp.v + i) * size;
        for (int y = 0; y < size; ++y) {
          uint8_t* out = s->band[c].data() + static_cast<size_t>((py + y) % s->bandRows[c]) * s->bandWidth[c] + px;
          for (int x = 0; x < size; ++x) out[x] = static_cast<uint8_t>(block[y * 8 + x]);
        }
      }
  }
}

void JpegOutputBand(JPEG_PROPERTIES* props, JpegDecodeState* s, int mcuRow, bool lastRow) {
  const JpegOutputTarget& t = s->target;
  const int left = t.write.left, right = t.write.right;
  const int n = s->componentCount;
  PlaneView views[4];
  const bool smooth = props->upsampling_mode == 1;
  // Output rows whose samples (and the filter's neighbours) are all decoded.
  int endRow = lastRow || mcuRow + 1 >= s->mcuRows ? t.height : t.write.bottom;
  for (int c = 0; c < n; ++c) {
    PlaneView& v = views[c];
    const JpegFrameComponent& comp = s->components[c];
    v.samples = s->band[c].data();
    v.stride = s->bandWidth[c];
    v.rows = s->bandRows[c];
    v.factorX = s->hMax * t.blockSize / (comp.h * s->planeBlock[c]);
    v.factorY = s->vMax * t.blockSize / (comp.v * s->planeBlock[c]);
    v.originX = s->bandFirstColumn * comp.h * s->planeBlock[c];
    v.lastX = (t.width + v.factorX - 1) / v.factorX - 1;
    v.lastY = (t.height + v.factorY - 1) / v.factorY - 1;
    v.triangle = smooth && v.factorX == 2 && (v.factorY == 1 || v.factorY == 2);
    if (!lastRow && mcuRow + 1 < s->mcuRows) {
      const int decodedRows = (mcuRow + 1) * comp.v * s->planeBlock[c];
      endRow = std::min(endRow, decodedRows * v.factorY - (v.triangle && v.factorY == 2 ? 1 : 0));
    }
  }
  const int firstRow = std::max(s->outputRow, t.write.top);
  endRow = std::min(endRow, t.write.bottom);
  if (left >= right || firstRow >= endRow) return;
  s->outputRow = endRow;

  const uint32_t jc = props->jpeg_color, ic = props->image_color;
  const int channels = t.channels;
  const bool convert = props->color_convert != 0;
  const bool grey = n == 1;
  const int width = right - left;
  std::vector<uint8_t> rows(static_cast<size_t>(width) * n);
  for (int y = firstRow; y < endRow; ++y) {
    for (int c = 0; c < n; ++c) UpsampleRow(views[c], y, left, right, &rows[static_cast<size_t>(c) * width]);
    const uint8_t* c0 = rows.data();
    const uint8_t* c1 = n > 1 ? c0 + width : c0;
    const uint8_t* c2 = n > 2 ? c0 + 2 * width : c0;
    const uint8_t* c3 = n > 3 ? c0 + 3 * width : nullptr;
    uint8_t* p = t.base + static_cast<ptrdiff_t>(y - t.region.top) * t.stride +
                 static_cast<ptrdiff_t>(left - t.region.left) * t.pixelBytes;
    for (int i = 0; i < width; ++i, p += t.pixelBytes) {
      if (t.pixelBytes == 2 && ic == COLOR_YCBCR) {
        // Packed pairs: Y, then Cb on even and Cr on odd pixels.
        p[0] = c0[i];
        p[1] = ((left + i) & 1) == 0 ? c1[i] : c2[i];
      } else if (convert && n >= 3) {
        int r, g, b;
        ConvertYcc(c0[i], c1[i], c2[i], &r, &g, &b);
        if (jc == COLOR_YCBCRA) {
          p[0] = static_cast<uint8_t>(255 - r);
          p[1] = static_cast<uint8_t>(255 - g);
          p[2] = static_cast<uint8_t>(255 - b);
          p[3] = c3 != nullptr ? c3[i] : 255;
        } else {
          p[0] = static_cast<uint8_t>(ic == COLOR_BGR ? b : r);
          p[1] = static_cast<uint8_t>(g);
          p[2] = static_cast<uint8_t>(ic == COLOR_BGR ? r : b);
          if (channels == 4) p[3] = 255;
        }
      } else if (grey) {
        for (int k = 0; k < channels && k < 3; ++k) p[k] = c0[i];
        if (channels == 4) p[3] = 255;
      } else if (channels == 1) {
        p[0] = c0[i];
      } else {
        // Components copied in frame order; an RGB stream into a BGR buffer
        // swaps the outer two, a missing fourth component is opaque.
        const uint8_t* sources[4] = {c0, c1, c2, c3};
        const bool swap = jc == COLOR_RGB && ic == COLOR_BGR;
        for (int k = 0; k < channels && k < 4; ++k) {
          const int from = swap && k < 3 ? 2 - k : k;
          if (from < n)
            p[k] = sources[from][i];
          else if (k == 3 && ic == COLOR_RGBA)
            p[k] = 255;
        }
      }
    }
  }
}
