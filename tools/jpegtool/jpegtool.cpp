// Test tool: encodes PPM/PGM files with the codec (and will decode once the
// decoder exists). Used by the acceptance checks and the benchmarks.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "JpegCodec.h"

namespace {

struct Image {
  int width = 0;
  int height = 0;
  int channels = 0;  // 1 (PGM) or 3 (PPM)
  std::vector<uint8_t> pixels;
};

bool ReadToken(std::istream& in, std::string* token) {
  token->clear();
  int c;
  while ((c = in.get()) != EOF) {
    if (c == '#') {
      while ((c = in.get()) != EOF && c != '\n') {
      }
      continue;
    }
    if (!std::isspace(c)) break;
  }
  if (c == EOF) return false;
  do {
    token->push_back(static_cast<char>(c));
  } while ((c = in.get()) != EOF && !std::isspace(c));
  return true;
}

bool ReadNetpbm(const std::string& path, Image* image) {
  std::ifstream in(path, std::ios::binary);
  std::string magic, w, h, maxval;
  if (!in || !ReadToken(in, &magic) || !ReadToken(in, &w) || !ReadToken(in, &h) || !ReadToken(in, &maxval))
    return false;
  if ((magic != "P6" && magic != "P5") || maxval != "255") return false;
  image->channels = magic == "P6" ? 3 : 1;
  image->width = std::atoi(w.c_str());
  image->height = std::atoi(h.c_str());
  if (image->width <= 0 || image->height <= 0 || image->width > 65535 || image->height > 65535) return false;
  image->pixels.resize(static_cast<size_t>(image->width) * image->height * image->channels);
  in.read(reinterpret_cast<char*>(image->pixels.data()), static_cast<std::streamsize>(image->pixels.size()));
  return static_cast<size_t>(in.gcount()) == image->pixels.size();
}

int Usage() {
  std::cerr << "usage: jpegtool encode IN.ppm OUT.jpg [--quality Q] [--sampling 0..4] [--progressive]\n"
               "                [--restart N] [--dct 0|1] [--cpu TYPE] [--bgr] [--rgbx-bottomup]\n"
               "                [--repeat N]\n"
               "       jpegtool decode IN.jpg OUT.ppm\n";
  return 2;
}

int Encode(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string input = argv[2], output = argv[3];
  int quality = 75, sampling = -1, restart = 0, dct = 1, repeat = 1;
  bool progressive = false, bgr = false, rgbxBottomUp = false;
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> int {
      if (i + 1 >= argc) {
        std::cerr << "missing value for " << option << "\n";
        std::exit(2);
      }
      return std::atoi(argv[++i]);
    };
    if (option == "--quality") quality = value();
    else if (option == "--sampling") sampling = value();
    else if (option == "--progressive") progressive = true;
    else if (option == "--restart") restart = value();
    else if (option == "--dct") dct = value();
    else if (option == "--cpu") setenv("VYR_JPEG_CPU", std::to_string(value()).c_str(), 1);
    else if (option == "--bgr") bgr = true;
    else if (option == "--rgbx-bottomup") rgbxBottomUp = true;
    else if (option == "--repeat") repeat = value();
    else return Usage();
  }

  Image image;
  if (!ReadNetpbm(input, &image)) {
    std::cerr << "cannot read " << input << " (binary PPM or PGM, maxval 255)\n";
    return 1;
  }
  std::vector<uint8_t> buffer;
  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  int result = JpegInit(&props);
  if (result != 0) {
    std::cerr << "JpegInit: " << JpegErrorString(result) << "\n";
    JpegFree(&props);
    return 1;
  }
  const size_t pixels = static_cast<size_t>(image.width) * image.height;
  if (image.channels == 1) {
    buffer = image.pixels;
    props.image_channels = 1;
    props.image_color = COLOR_GRAY;
    props.jpeg_channels = 1;
    props.jpeg_color = COLOR_GRAY;
    props.jpeg_subsampling = SUBSAMPLING_NONE;
    props.image_height = image.height;
  } else if (rgbxBottomUp) {
    // The snapshot layout: R, G, B and a spare byte, bottom row first.
    buffer.resize(pixels * 4);
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x) {
        const uint8_t* s = &image.pixels[(static_cast<size_t>(y) * image.width + x) * 3];
        uint8_t* d = &buffer[(static_cast<size_t>(image.height - 1 - y) * image.width + x) * 4];
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 0;
      }
    props.image_channels = 4;
    props.image_color = COLOR_RGB;
    props.image_height = -image.height;
  } else {
    buffer = image.pixels;
    if (bgr)
      for (size_t i = 0; i < pixels; ++i) std::swap(buffer[i * 3], buffer[i * 3 + 2]);
    props.image_channels = 3;
    props.image_color = bgr ? COLOR_BGR : COLOR_RGB;
    props.image_height = image.height;
  }
  props.image_bytes = buffer.data();
  props.image_width = static_cast<uint32_t>(image.width);
  props.jpeg_width = static_cast<uint32_t>(image.width);
  props.jpeg_height = static_cast<uint32_t>(image.height);
  props.jpeg_file = output.c_str();
  if (sampling >= 0) props.jpeg_subsampling = static_cast<uint32_t>(sampling);
  props.quality = quality;
  props.props.progressive = progressive ? 1 : 0;
  props.props.restart_interval = static_cast<uint32_t>(restart);
  props.props.dct_method = static_cast<uint32_t>(dct);

  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeat && result == 0; ++i) result = JpegWrite(&props, WRITE_IMAGE_TO_FILE);
  const auto end = std::chrono::steady_clock::now();
  const int freed = JpegFree(&props);
  if (result != 0) {
    std::cerr << "JpegWrite: " << JpegErrorString(result) << " (" << result << ")\n";
    return 1;
  }
  if (freed != 0) {
    std::cerr << "JpegFree: " << JpegErrorString(freed) << "\n";
    return 1;
  }
  if (repeat > 1) {
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("%.2f Mpixels/s\n", static_cast<double>(pixels) * repeat / seconds / 1e6);
  }
  return 0;
}

int Decode(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::vector<uint8_t> pixels(3);
  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  int result = JpegInit(&props);
  if (result == 0) {
    props.jpeg_file = argv[2];
    props.image_bytes = pixels.data();
    props.image_width = 1;
    props.image_height = 1;
    props.image_color = COLOR_RGB;
    result = JpegRead(&props, READ_IMAGE_FROM_FILE);
  }
  JpegFree(&props);
  if (result != 0) {
    std::cerr << "JpegRead: " << JpegErrorString(result) << " (" << result << ")\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "encode") return Encode(argc, argv);
  if (command == "decode") return Decode(argc, argv);
  return Usage();
}
