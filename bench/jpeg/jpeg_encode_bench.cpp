// Times whole-image writes of a 32-bit bottom-up RGB picture at quality 100,
// 4:2:0, exact transform: the road of the control's snapshots.
//   jpeg_encode_bench [--ppm IN.ppm] [--save-ppm OUT.ppm] [--seconds S] [--cpu TYPE] [--noise N]
//                     [--rgb 1]
// (--noise: amplitude of the generated picture's noise, default 8; --rgb 1:
// top-down 3-byte RGB input instead, the road of the full-MCU input kernels)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "JpegBenchTiming.h"
#include "JpegCodec.h"
#include "dispatch/JpegRuntime.h"

namespace {

struct Picture {
  int width = 1920;
  int height = 1080;
  std::vector<uint8_t> rgb;
};

// Smooth gradients with texture and mild noise, like a camera picture.
void Generate(Picture* p, int noiseAmplitude) {
  p->rgb.resize(static_cast<size_t>(p->width) * p->height * 3);
  uint32_t state = 1;
  for (int y = 0; y < p->height; ++y)
    for (int x = 0; x < p->width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int noise = static_cast<int>((state >> 24) % (2 * noiseAmplitude + 1)) - noiseAmplitude;
      auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); };
      uint8_t* px = &p->rgb[(static_cast<size_t>(y) * p->width + x) * 3];
      px[0] = clamp(x * 255 / p->width + noise);
      px[1] = clamp(y * 255 / p->height - noise + (((x / 24) ^ (y / 24)) & 1) * 40);
      px[2] = clamp(((x + 2 * y) & 255) / 2 + 64 + noise);
    }
}

bool ReadPpm(const std::string& path, Picture* p) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> p->width >> p->height >> maxval;
  in.get();
  if (magic != "P6" || maxval != 255 || p->width <= 0 || p->height <= 0) return false;
  p->rgb.resize(static_cast<size_t>(p->width) * p->height * 3);
  in.read(reinterpret_cast<char*>(p->rgb.data()), static_cast<std::streamsize>(p->rgb.size()));
  return static_cast<size_t>(in.gcount()) == p->rgb.size();
}

}  // namespace

int main(int argc, char** argv) {
  Picture picture;
  std::string input, save;
  double seconds = 2.0;
  int noiseAmplitude = 8;
  bool rgb3 = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--ppm") input = argv[i + 1];
    else if (option == "--save-ppm") save = argv[i + 1];
    else if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    else if (option == "--cpu") setenv("VYR_JPEG_CPU", argv[i + 1], 1);
    else if (option == "--rgb") rgb3 = std::atoi(argv[i + 1]) != 0;
    else if (option == "--noise") noiseAmplitude = std::min(std::max(std::atoi(argv[i + 1]), 0), 127);
  }
  if (!input.empty()) {
    if (!ReadPpm(input, &picture)) {
      std::fprintf(stderr, "cannot read %s\n", input.c_str());
      return 1;
    }
  } else {
    Generate(&picture, noiseAmplitude);
  }
  if (!save.empty()) {
    std::ofstream out(save, std::ios::binary);
    out << "P6\n" << picture.width << " " << picture.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(picture.rgb.data()), static_cast<std::streamsize>(picture.rgb.size()));
  }

  const size_t pixels = static_cast<size_t>(picture.width) * picture.height;
  std::vector<uint8_t> rgbx(pixels * 4);
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x)
      std::memcpy(&rgbx[(static_cast<size_t>(picture.height - 1 - y) * picture.width + x) * 4],
                  &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3], 3);
  std::vector<uint8_t> output(pixels * 4 + 65536);

  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  if (JpegInit(&props) != 0) return 1;
  props.image_bytes = rgb3 ? picture.rgb.data() : rgbx.data();
  props.image_width = static_cast<uint32_t>(picture.width);
  props.image_height = rgb3 ? picture.height : -picture.height;
  props.image_channels = rgb3 ? 3 : 4;
  props.image_color = COLOR_RGB;
  props.jpeg_width = static_cast<uint32_t>(picture.width);
  props.jpeg_height = static_cast<uint32_t>(picture.height);
  props.jpeg_channels = 3;
  props.jpeg_color = COLOR_YCBCR;
  props.jpeg_subsampling = SUBSAMPLING_420;
  props.quality = 100;
  props.props.dct_method = 1;

  uint32_t size = 0;
  const JpegBenchRuns timing = RunFor(seconds, [&] {
    props.jpeg_bytes = output.data();
    props.jpeg_size = static_cast<uint32_t>(output.size());
    const int32_t result = JpegWrite(&props, WRITE_IMAGE_TO_BUFFER);
    size = props.jpeg_size;
    return result;
  });
  const int cpu = props.props.runtime->cpuType;
  JpegFree(&props);
  if (timing.result != 0) {
    std::fprintf(stderr, "JpegWrite: %s\n", JpegErrorString(timing.result));
    return 1;
  }
  std::printf("vyrjpeg cpu type %d: %dx%d %s q100 4:2:0 exact DCT, %u bytes, %d runs, %.2f ms each, %.2f Mpixels/s\n",
              cpu, picture.width, picture.height, rgb3 ? "RGB" : "RGBX bottom-up", size, timing.runs, timing.seconds * 1000 / timing.runs,
              static_cast<double>(pixels) * timing.runs / timing.seconds / 1e6);
  return 0;
}
