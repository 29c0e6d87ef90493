// Times whole-image reads of a JPEG file from memory into a 3-byte BGR buffer
// with the exact transform and box upsampling.
//   jpeg_decode_bench --jpeg IN.jpg [--seconds S] [--cpu TYPE]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "JpegBenchTiming.h"
#include "JpegCodec.h"
#include "dispatch/JpegRuntime.h"

int main(int argc, char** argv) {
  std::string path;
  double seconds = 2.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--jpeg") path = argv[i + 1];
    else if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (option == "--cpu") setenv("VYR_JPEG_CPU", argv[i + 1], 1);
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (stream.empty()) {
    std::fprintf(stderr, "usage: jpeg_decode_bench --jpeg IN.jpg [--seconds S] [--cpu TYPE]\n");
    return 2;
  }

  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  if (JpegInit(&props) != 0) return 1;
  props.jpeg_bytes = stream.data();
  props.jpeg_size = static_cast<uint32_t>(stream.size());
  int32_t result = JpegRead(&props, READ_PARAMS_FROM_BUFFER);
  if (result != 0 || props.jpeg_channels != 3) {
    std::fprintf(stderr, "%s: not a three-component picture (%s)\n", path.c_str(), JpegErrorString(result));
    JpegFree(&props);
    return 1;
  }
  const int width = static_cast<int>(props.jpeg_width), height = static_cast<int>(props.jpeg_height);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  props.image_bytes = pixels.data();
  props.image_width = static_cast<uint32_t>(width);
  props.image_height = height;
  props.image_channels = 3;
  props.image_color = COLOR_BGR;

  const JpegBenchRuns timing = RunFor(seconds, [&] { return JpegRead(&props, READ_IMAGE_FROM_BUFFER); });
  const int cpu = props.props.runtime->cpuType;
  JpegFree(&props);
  if (timing.result != 0) {
    std::fprintf(stderr, "JpegRead: %s\n", JpegErrorString(timing.result));
    return 1;
  }
  std::printf("vyrjpeg cpu type %d: %s %dx%d, %d runs, %.2f ms each, %.2f Mpixels/s\n", cpu, path.c_str(), width,
              height, timing.runs, timing.seconds * 1000 / timing.runs,
              static_cast<double>(width) * height * timing.runs / timing.seconds / 1e6);
  return 0;
}
