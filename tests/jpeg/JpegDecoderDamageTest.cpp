// Damaged and cut streams: the decoder resynchronises at restart markers, keeps
// what it decoded, and says in its result that the data was damaged or cut.
// Pictures are judged against the clean decode, beside the outside decoder's
// own damage on the same stream.
#include <gtest/gtest.h>

#include <cstdio>

#include "JpegTestSupport.h"

namespace {

constexpr int kWidth = 257, kHeight = 131;

struct Damaged {
  const char* what;
  std::vector<uint8_t> stream;
  int32_t expected;  // result of the read
};

// Offsets of the restart markers (at their 0xFF) behind the given scan start.
std::vector<size_t> RestartMarkers(const std::vector<uint8_t>& stream, size_t from) {
  std::vector<size_t> at;
  for (size_t i = from; i + 1 < stream.size(); ++i)
    if (stream[i] == 0xFF && stream[i + 1] >= 0xD0 && stream[i + 1] <= 0xD7) at.push_back(i);
  return at;
}

size_t NthScan(const std::vector<uint8_t>& stream, int n) {
  for (const jpegtest::Segment& s : jpegtest::Segments(stream))
    if (s.marker == 0xDA && n-- == 0) return s.offset + s.length;
  return 0;
}

// Offset of the marker that ends the entropy data starting at `from`.
size_t ScanEnd(const std::vector<uint8_t>& stream, size_t from) {
  for (size_t i = from; i + 1 < stream.size(); ++i)
    if (stream[i] == 0xFF && stream[i + 1] != 0 && stream[i + 1] != 0xFF && (stream[i + 1] & 0xF8) != 0xD0) return i;
  return stream.size();
}

// Interval `interval` of the scan starting at `scan` loses the second half of its data.
std::vector<uint8_t> CutInterval(const std::vector<uint8_t>& stream, size_t scan, int interval) {
  const std::vector<size_t> rst = RestartMarkers(stream, scan);
  const size_t begin = rst.at(interval - 1) + 2, end = rst.at(interval);
  std::vector<uint8_t> out = stream;
  out.erase(out.begin() + static_cast<long>((begin + end) / 2), out.begin() + static_cast<long>(end));
  return out;
}

std::vector<uint8_t> DropMarker(const std::vector<uint8_t>& stream, size_t scan, int interval) {
  const size_t at = RestartMarkers(stream, scan).at(interval);
  std::vector<uint8_t> out = stream;
  out.erase(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + 2));
  return out;
}

int SamplesOff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int count = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) count += std::abs(a[i] - b[i]) > 2;
  return count;
}

int32_t Decode(const std::vector<uint8_t>& stream, std::vector<uint8_t>* pixels) {
  return jpegtest::DecodeImage(stream, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, pixels);
}

}  // namespace

TEST(JpegDecoderDamage, RestartMarkersBringTheDecoderBackOnEveryProcessorType) {
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(kWidth, kHeight, 5);
  const std::vector<uint8_t> baseline = jpegtest::Cjpeg(rgb, kWidth, kHeight, "-quality 75 -restart 4B");
  const std::vector<uint8_t> progressive =
      jpegtest::Cjpeg(rgb, kWidth, kHeight, "-quality 75 -restart 4B -progressive");
  ASSERT_FALSE(baseline.empty());
  ASSERT_FALSE(progressive.empty());
  const size_t scan = NthScan(baseline, 0);
  const std::vector<Damaged> cases = {
      {"half an interval cut", CutInterval(baseline, scan, 20), JPEG_ERR_DATA},
      {"a restart marker missing", DropMarker(baseline, scan, 20), JPEG_ERR_BAD_RST},
      {"two markers and the interval between missing", [&] {
         std::vector<uint8_t> s = baseline;
         const std::vector<size_t> rst = RestartMarkers(s, scan);
         s.erase(s.begin() + static_cast<long>(rst[10]), s.begin() + static_cast<long>(rst[11] + 2));
         return s;
       }(), JPEG_ERR_BAD_RST},
      {"progressive DC scan interval cut", CutInterval(progressive, NthScan(progressive, 0), 12), JPEG_ERR_DATA},
      {"progressive AC scan interval cut", CutInterval(progressive, NthScan(progressive, 1), 30), JPEG_ERR_DATA},
      {"progressive marker missing", DropMarker(progressive, NthScan(progressive, 2), 5), JPEG_ERR_BAD_RST},
  };
  for (const Damaged& d : cases) {
    const std::vector<uint8_t>& clean = d.what[0] == 'p' ? progressive : baseline;
    std::vector<uint8_t> outsideClean, outsideDamaged;
    ASSERT_EQ(jpegtest::Djpeg(clean, &outsideClean), 0);
    jpegtest::Djpeg(d.stream, &outsideDamaged);
    const int outsideOff = SamplesOff(outsideClean, outsideDamaged);
    for (int type : {0, 3, 4, 5, 6}) {
      const jpegtest::ForcedCpu cpu(type);
      std::vector<uint8_t> whole, ours;
      ASSERT_EQ(Decode(clean, &whole), 0);
      EXPECT_EQ(Decode(d.stream, &ours), d.expected) << d.what << ", type " << type;
      const int off = SamplesOff(whole, ours);
      // About the outside decoder's own damage, and the picture's
      // last MCU row (far from the damage) is intact.
      EXPECT_GT(off, 0) << d.what;
      EXPECT_LE(off, 2 * outsideOff + 100) << d.what << ", type " << type << ", outside " << outsideOff;
      const size_t lastRows = static_cast<size_t>(kWidth) * 3 * 16;
      EXPECT_EQ(SamplesOff(std::vector<uint8_t>(whole.end() - lastRows, whole.end()),
                           std::vector<uint8_t>(ours.end() - lastRows, ours.end())),
                0)
          << d.what << ", type " << type;
    }
  }
}

TEST(JpegDecoderDamage, CutAndDamagedStreamsSaySoAndKeepWhatCame) {
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(kWidth, kHeight, 6);
  const std::vector<uint8_t> baseline = jpegtest::Cjpeg(rgb, kWidth, kHeight, "-quality 80");
  const std::string scriptPath = jpegtest::TempPath("planes.txt");
  {
    FILE* f = std::fopen(scriptPath.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("0;\n1;\n2;\n", f);
    std::fclose(f);
  }
  const std::vector<uint8_t> planes = jpegtest::Cjpeg(rgb, kWidth, kHeight, "-quality 80 -scans " + scriptPath);
  std::remove(scriptPath.c_str());
  const std::vector<uint8_t> progressive = jpegtest::Cjpeg(rgb, kWidth, kHeight, "-quality 80 -progressive");
  ASSERT_FALSE(planes.empty());
  const std::string path = jpegtest::TempPath("cut.jpg");
  for (const std::vector<uint8_t>* stream : {&baseline, &planes, &progressive}) {
    std::vector<uint8_t> whole;
    ASSERT_EQ(Decode(*stream, &whole), 0);
    // Cut in the middle of its last scan's entropy data.
    size_t last = 0;
    for (int n = 0; NthScan(*stream, n) != 0; ++n) last = NthScan(*stream, n);
    const std::vector<uint8_t> cut(stream->begin(),
                                   stream->begin() + static_cast<long>((last + ScanEnd(*stream, last)) / 2));
    std::vector<uint8_t> part;
    EXPECT_EQ(Decode(cut, &part), JPEG_ERR_MEMORY);
    // What came is kept, as the outside decoder keeps it.
    std::vector<uint8_t> outside;
    jpegtest::Djpeg(cut, &outside);
    const jpegtest::Difference difference = jpegtest::Compare(part, outside);
    EXPECT_LT(difference.mean, 1.0) << difference.max;
    jpegtest::WriteFile(path, cut);
    jpegtest::Decoder file;
    file.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
    file.SetStream({}, COLOR_YCBCR, 3);
    file.props.jpeg_file = path.c_str();
    EXPECT_EQ(file.Read(READ_IMAGE_FROM_FILE), JPEG_ERR_FILE);
    EXPECT_EQ(file.Picture(), part);

    // The entropy data of the first scan ends early but the stream goes on to its end.
    const size_t first = NthScan(*stream, 0);
    std::vector<uint8_t> shortScan(stream->begin(), stream->begin() + static_cast<long>(first + 300));
    shortScan.insert(shortScan.end(), stream->begin() + static_cast<long>(ScanEnd(*stream, first)), stream->end());
    EXPECT_EQ(Decode(shortScan, &part), JPEG_ERR_DATA);
  }
  std::remove(path.c_str());

  // A lone 0xFF at the very end of memory input.
  std::vector<uint8_t> lone(baseline.begin(), baseline.begin() + static_cast<long>(NthScan(baseline, 0) + 500));
  while (lone.back() == 0xFF) lone.pop_back();
  lone.push_back(0xFF);
  std::vector<uint8_t> part;
  EXPECT_EQ(Decode(lone, &part), JPEG_ERR_DATA);
}
