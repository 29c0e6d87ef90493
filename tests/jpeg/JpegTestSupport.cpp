#include "JpegTestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>

namespace jpegtest {

std::vector<uint8_t> MakeRgb(int width, int height, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> noise(-24, 24);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
      const int edge = ((x / 7 + y / 5) & 1) ? 60 : 0;
      const int n = noise(random);
      p[0] = clamp(x * 255 / (width > 1 ? width - 1 : 1) + n);
      p[1] = clamp(y * 255 / (height > 1 ? height - 1 : 1) + edge - n);
      p[2] = clamp(((x * 3 + y * 5) & 255) + n / 2);
    }
  return pixels;
}

Encoder::Encoder() {
  std::memset(&props, 0, sizeof(props));
  JpegInit(&props);
}

Encoder::~Encoder() { JpegFree(&props); }

void Encoder::SetPixels(std::vector<uint8_t> data, int width, int height, int channels, uint32_t colour) {
  pixels = std::move(data);
  props.image_bytes = pixels.data();
  props.image_width = static_cast<uint32_t>(width);
  props.image_height = height;
  props.image_channels = static_cast<uint32_t>(channels);
  props.image_color = colour;
  props.jpeg_width = static_cast<uint32_t>(width);
  props.jpeg_height = static_cast<uint32_t>(height < 0 ? -height : height);
}

void Encoder::SetRgb(int width, int height, uint32_t seed) {
  SetPixels(MakeRgb(width, height, seed), width, height, 3, COLOR_RGB);
}

int32_t Encoder::WriteMemory(int32_t type, size_t bufferSize) {
  if (bufferSize == 0) bufferSize = pixels.size() * 4 + 100000;
  output.assign(bufferSize, 0);
  props.jpeg_bytes = output.data();
  props.jpeg_size = static_cast<uint32_t>(bufferSize);
  const int32_t result = JpegWrite(&props, type);
  if (result == 0) output.resize(props.jpeg_size);
  return result;
}

std::vector<Segment> Segments(const std::vector<uint8_t>& s) {
  std::vector<Segment> segments;
  size_t i = 0;
  while (i + 1 < s.size()) {
    if (s[i] != 0xFF || s[i + 1] == 0x00 || s[i + 1] == 0xFF) {
      ++i;
      continue;
    }
    const uint8_t marker = s[i + 1];
    const bool standalone = marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7);
    size_t length = 2;
    if (!standalone && i + 3 < s.size()) length = 2 + (static_cast<size_t>(s[i + 2]) << 8 | s[i + 3]);
    segments.push_back({marker, i, length});
    i += length;
  }
  return segments;
}

std::vector<uint8_t> MarkerSequence(const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> markers;
  for (const Segment& s : Segments(stream)) markers.push_back(s.marker);
  return markers;
}

namespace {

// Every name handed out, so that files a test leaves behind (or that its
// failure kept it from removing) go with the test process. A child forked
// from it that exits leaves them to the test.
std::mutex tempLock;
pid_t tempOwner = 0;
std::set<std::string>& TempPaths() {
  static auto* paths = new std::set<std::string>;
  return *paths;
}

void RemoveTempPaths() {
  std::lock_guard<std::mutex> lock(tempLock);
  if (getpid() != tempOwner) return;
  for (const std::string& path : TempPaths()) unlink(path.c_str());
}

}  // namespace

std::string TempPath(const std::string& name) {
  const char* base = std::getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/jpeg_tests_" + std::to_string(getpid()) + "_" + name;
  std::lock_guard<std::mutex> lock(tempLock);
  if (TempPaths().empty()) {
    tempOwner = getpid();
    std::atexit(RemoveTempPaths);
  }
  TempPaths().insert(path);
  return path;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WritePpm(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << width << " " << height << "\n255\n";
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int RunCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int Djpeg(const std::vector<uint8_t>& stream, std::vector<uint8_t>* pixels, const std::string& options) {
  static int counter = 0;
  const std::string in = TempPath("djpeg_in_" + std::to_string(++counter) + ".jpg");
  const std::string out = in + ".pnm";
  WriteFile(in, stream);
  const int status = RunCommand("djpeg " + options + " -pnm -outfile '" + out + "' '" + in + "' 2>/dev/null");
  if (pixels != nullptr) *pixels = PnmPixels(ReadFile(out));
  std::remove(in.c_str());
  std::remove(out.c_str());
  return status;
}

std::vector<uint8_t> Cjpeg(const std::vector<uint8_t>& pixels, int width, int height, const std::string& options) {
  static int counter = 0;
  const bool grey = pixels.size() == static_cast<size_t>(width) * height;
  const std::string in = TempPath("cjpeg_in_" + std::to_string(++counter) + (grey ? ".pgm" : ".ppm"));
  const std::string out = in + ".jpg";
  {
    std::ofstream file(in, std::ios::binary);
    file << (grey ? "P5\n" : "P6\n") << width << " " << height << "\n255\n";
    file.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  }
  const int status = RunCommand("cjpeg " + options + " -outfile '" + out + "' '" + in + "' 2>/dev/null");
  std::vector<uint8_t> stream = status == 0 ? ReadFile(out) : std::vector<uint8_t>();
  std::remove(in.c_str());
  std::remove(out.c_str());
  return stream;
}

Decoder::Decoder() {
  std::memset(&props, 0, sizeof(props));
  JpegInit(&props);
}

Decoder::~Decoder() { JpegFree(&props); }

void Decoder::SetBuffer(int width, int height, int channels, uint32_t colour, int padBytes) {
  const int rows = height < 0 ? -height : height;
  pixels.assign(static_cast<size_t>(width * channels + padBytes) * rows, 0xA5);
  props.image_bytes = pixels.data();
  props.image_width = static_cast<uint32_t>(width);
  props.image_height = height;
  props.image_channels = static_cast<uint32_t>(channels);
  props.image_color = colour;
  props.image_pad_bytes = static_cast<uint32_t>(padBytes);
  props.image_subsampling = channels == 2 && colour == COLOR_YCBCR ? 2 : 0;
}

void Decoder::SetStream(const std::vector<uint8_t>& stream, uint32_t jpegColour, uint32_t jpegChannels) {
  props.jpeg_bytes = const_cast<uint8_t*>(stream.data());
  props.jpeg_size = static_cast<uint32_t>(stream.size());
  props.jpeg_color = jpegColour;
  props.jpeg_channels = jpegChannels;
}

std::vector<uint8_t> Decoder::Picture() const {
  const int width = static_cast<int>(props.image_width), channels = static_cast<int>(props.image_channels);
  const int rows = props.image_height < 0 ? -props.image_height : props.image_height;
  const size_t stride = static_cast<size_t>(width) * channels + props.image_pad_bytes;
  std::vector<uint8_t> picture;
  for (int y = 0; y < rows; ++y) {
    const int row = props.image_height < 0 ? rows - 1 - y : y;
    const uint8_t* p = pixels.data() + row * stride;
    picture.insert(picture.end(), p, p + static_cast<size_t>(width) * channels);
  }
  return picture;
}

int32_t DecodeImage(const std::vector<uint8_t>& stream, uint32_t jpegColour, uint32_t jpegChannels, int width,
                    int height, int channels, uint32_t imageColour, std::vector<uint8_t>* pixels, int32_t type,
                    uint32_t dctMethod) {
  Decoder d;
  d.SetBuffer(width, height, channels, imageColour);
  d.SetStream(stream, jpegColour, jpegChannels);
  d.props.props.dct_method = dctMethod;
  const int32_t result = d.Read(type);
  *pixels = d.Picture();
  return result;
}

Difference Compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  Difference d;
  if (a.size() != b.size() || a.empty()) {
    d.max = 256;
    return d;
  }
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const int diff = std::abs(int(a[i]) - int(b[i]));
    d.max = std::max(d.max, diff);
    sum += diff;
  }
  d.mean = sum / a.size();
  return d;
}

std::vector<uint8_t> PnmPixels(const std::vector<uint8_t>& file) {
  // Magic, width, height, maxval, then one whitespace byte.
  size_t i = 0;
  int fields = 0;
  while (i < file.size() && fields < 4) {
    while (i < file.size() && std::isspace(file[i])) ++i;
    while (i < file.size() && !std::isspace(file[i])) ++i;
    ++fields;
  }
  if (i >= file.size()) return {};
  return std::vector<uint8_t>(file.begin() + static_cast<long>(i) + 1, file.end());
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * a.size() / sum);
}

ForcedCpu::ForcedCpu(int type) {
  const char* old = std::getenv("VYR_JPEG_CPU");
  had_ = old != nullptr;
  if (old) old_ = old;
  setenv("VYR_JPEG_CPU", std::to_string(type).c_str(), 1);
}

ForcedCpu::~ForcedCpu() {
  if (had_)
    setenv("VYR_JPEG_CPU", old_.c_str(), 1);
  else
    unsetenv("VYR_JPEG_CPU");
}

}  // namespace jpegtest
