// Helpers of the codec tests: test pictures, encoding into memory, marker
// segment walking and the outside decoder (djpeg).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "JpegCodec.h"

namespace jpegtest {

// A picture with gradients, edges and noise; 3 bytes per pixel, R, G, B.
std::vector<uint8_t> MakeRgb(int width, int height, uint32_t seed = 1);

// A record after JpegInit describing an RGB picture of the given layout.
struct Encoder {
  JpegCoreProperties props{};
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> output;
  Encoder();
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  void SetRgb(int width, int height, uint32_t seed = 1);
  void SetPixels(std::vector<uint8_t> data, int width, int height, int channels, uint32_t colour);
  // Writes into a memory buffer of the given size (0: generous); returns the result.
  int32_t WriteMemory(int32_t type = WRITE_IMAGE_TO_BUFFER, size_t bufferSize = 0);
};

struct Segment {
  uint8_t marker;
  size_t offset;  // of the 0xFF
  size_t length;  // whole segment including marker bytes
};

// Marker segments of a stream; entropy-coded data is skipped.
std::vector<Segment> Segments(const std::vector<uint8_t>& stream);
std::vector<uint8_t> MarkerSequence(const std::vector<uint8_t>& stream);

// A file name of this test process's own; the file is removed when the
// process exits.
std::string TempPath(const std::string& name);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WritePpm(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height);
std::vector<uint8_t> ReadFile(const std::string& path);

// Runs djpeg on a stream; returns its exit status and fills the decoded PNM.
int Djpeg(const std::vector<uint8_t>& stream, std::vector<uint8_t>* pixels = nullptr,
          const std::string& options = "-dct int -nosmooth");
int RunCommand(const std::string& command);

// Runs cjpeg with the options on a test picture (PPM or PGM); the stream, or
// empty when cjpeg fails.
std::vector<uint8_t> Cjpeg(const std::vector<uint8_t>& rgb, int width, int height, const std::string& options);

// A read record after JpegInit with a pixel buffer of the given layout; the
// buffer is filled with a sentinel so that untouched bytes show.
struct Decoder {
  JpegCoreProperties props{};
  std::vector<uint8_t> pixels;
  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  // Buffer of width x |height| pixels (negative height: bottom-up) with pad bytes.
  void SetBuffer(int width, int height, int channels, uint32_t colour, int padBytes = 0);
  void SetStream(const std::vector<uint8_t>& stream, uint32_t jpegColour, uint32_t jpegChannels);
  int32_t Read(int32_t type = READ_IMAGE_FROM_BUFFER) { return JpegRead(&props, type); }
  // The picture's rows top-down without pad bytes.
  std::vector<uint8_t> Picture() const;
};

// Decodes a whole stream into a top-down buffer; the result code of the read.
int32_t DecodeImage(const std::vector<uint8_t>& stream, uint32_t jpegColour, uint32_t jpegChannels, int width,
                    int height, int channels, uint32_t imageColour, std::vector<uint8_t>* pixels,
                    int32_t type = READ_IMAGE_FROM_BUFFER, uint32_t dctMethod = 1);

struct Difference {
  int max = 0;
  double mean = 0;
};
Difference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Pixels of a binary PNM (header stripped).
std::vector<uint8_t> PnmPixels(const std::vector<uint8_t>& file);
double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

// Forces a processor type for its lifetime (VYR_JPEG_CPU), then restores the
// variable. The SIMD output kernels may round R and B one lower than the plain
// workers that convert MCUs cut by a region's edge; region tests that compare
// bytes exactly run on the plain type.
class ForcedCpu {
 public:
  explicit ForcedCpu(int type);
  ~ForcedCpu();
  ForcedCpu(const ForcedCpu&) = delete;
  ForcedCpu& operator=(const ForcedCpu&) = delete;

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace jpegtest
