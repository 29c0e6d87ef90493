// Progressive scan scripts by component count and colour.
#include "encoder/JpegEncoder.h"

namespace {

struct ScriptRow {
  int component;  // -1: interleaved DC scan of the first n components
  int ss, se, ah, al;
};

constexpr int kDc = -1;

const ScriptRow kGrey[] = {{kDc, 0, 0, 0, 1}, {0, 1, 5, 0, 2}, {0, 6, 63, 0, 2},
                           {0, 1, 63, 2, 1},  {kDc, 0, 0, 1, 0}, {0, 1, 63, 1, 0}};
const ScriptRow kTwoOther[] = {{kDc, 0, 0, 0, 0}, {0, 1, 5, 0, 0}, {1, 1, 5, 0, 0},
                               {0, 6, 63, 0, 0},  {1, 6, 63, 0, 0}};
const ScriptRow kYcc[] = {{kDc, 0, 0, 0, 1}, {0, 1, 5, 0, 2},  {2, 1, 63, 0, 1}, {1, 1, 63, 0, 1},
                          {0, 6, 63, 0, 2},  {0, 1, 63, 2, 1}, {kDc, 0, 0, 1, 0}, {2, 1, 63, 1, 0},
                          {1, 1, 63, 1, 0},  {0, 1, 63, 1, 0}};
const ScriptRow kRgb[] = {{kDc, 0, 0, 0, 1}, {0, 1, 5, 0, 0},  {1, 1, 5, 0, 0},  {2, 1, 5, 0, 0},
                          {kDc, 0, 0, 1, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0}, {2, 6, 63, 0, 0}};
const ScriptRow kYcca[] = {{kDc, 0, 0, 0, 1}, {0, 1, 5, 0, 2},   {2, 1, 63, 0, 1}, {1, 1, 63, 0, 1},
                           {3, 1, 63, 0, 0},  {0, 6, 63, 0, 2},  {0, 1, 63, 2, 1}, {kDc, 0, 0, 1, 0},
                           {2, 1, 63, 1, 0},  {1, 1, 63, 1, 0},  {0, 1, 63, 1, 0}};
const ScriptRow kRgba[] = {{kDc, 0, 0, 0, 1}, {0, 1, 5, 0, 0},  {1, 1, 5, 0, 0},  {2, 1, 5, 0, 0},
                           {3, 1, 5, 0, 0},   {kDc, 0, 0, 1, 0}, {0, 6, 63, 0, 0}, {1, 6, 63, 0, 0},
                           {2, 6, 63, 0, 0},  {3, 6, 63, 0, 0}};

template <size_t N>
void Fill(const JpegWorkState* work, const ScriptRow (&rows)[N], std::vector<JpegProgressiveScan>* scans) {
  scans->resize(N);
  for (size_t i = 0; i < N; ++i) {
    JpegProgressiveScan& scan = (*scans)[i];
    scan = JpegProgressiveScan{};
    const ScriptRow& row = rows[i];
    if (row.component == kDc) {
      scan.componentCount = work->componentCount;
      for (int c = 0; c < work->componentCount; ++c) scan.components[c] = c;
    } else {
      scan.componentCount = 1;
      scan.components[0] = row.component;
    }
    for (int c = 0; c < scan.componentCount; ++c) {
      scan.h[c] = work->components[scan.components[c]].h;
      scan.v[c] = work->components[scan.components[c]].v;
    }
    scan.ss = row.ss;
    scan.se = row.se;
    scan.ah = row.ah;
    scan.al = row.al;
  }
}

}  // namespace

int32_t JpegSetupProgressiveScans(const JpegWorkState* work, uint32_t jpegColor,
                                  std::vector<JpegProgressiveScan>* scans) {
  scans->clear();
  const int count = work->componentCount;
  if (count == 1 && jpegColor == COLOR_GRAY)
    Fill(work, kGrey, scans);
  else if (count == 2 && jpegColor == COLOR_OTHER)
    Fill(work, kTwoOther, scans);
  else if (count == 3 && jpegColor == COLOR_YCBCR)
    Fill(work, kYcc, scans);
  else if (count == 3 && (jpegColor == COLOR_RGB || jpegColor == COLOR_OTHER))
    Fill(work, kRgb, scans);
  else if (count == 4 && jpegColor == COLOR_YCBCRA)
    Fill(work, kYcca, scans);
  else if (count == 4 && (jpegColor == COLOR_RGBA || jpegColor == COLOR_OTHER))
    Fill(work, kRgba, scans);
  else
    return -8;
  return 0;
}
