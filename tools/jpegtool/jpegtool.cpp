// Test tool: encodes PPM/PGM files with the codec and decodes JPEG files to
// PPM/PGM. Used by the acceptance checks and the benchmarks.
#include <algorithm>
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
               "       jpegtool decode IN.jpg OUT.ppm [--scale 1|2|4|8] [--roi L,T,R,B] [--smooth]\n"
               "                [--dct 0|1] [--cpu TYPE]\n";
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

// The JPEG colour of a stream, as the codec leaves it to its caller to say:
// from the component count and the Adobe transform of a parameters read.
uint32_t StreamColour(const JpegCoreProperties& params) {
  const uint32_t n = params.jpeg_channels;
  if (n == 1) return COLOR_GRAY;
  const bool untransformed = params.props.adobe_transform == 0;
  if (n == 4) return untransformed ? COLOR_RGBA : COLOR_YCBCRA;
  return n == 3 && untransformed ? COLOR_RGB : COLOR_YCBCR;
}

int Decode(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string input = argv[2], output = argv[3];
  int scale = 1, dct = 1;
  bool smooth = false;
  JpegRect region = {0, 0, 0, 0};
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "missing value for " << option << "\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (option == "--scale") scale = std::atoi(value().c_str());
    else if (option == "--roi") {
      if (std::sscanf(value().c_str(), "%d,%d,%d,%d", &region.left, &region.top, &region.right, &region.bottom) != 4)
        return Usage();
    } else if (option == "--smooth") smooth = true;
    else if (option == "--dct") dct = std::atoi(value().c_str());
    else if (option == "--cpu") setenv("VYR_JPEG_CPU", value().c_str(), 1);
    else return Usage();
  }
  int32_t type;
  switch (scale) {
    case 1: type = READ_IMAGE_FROM_FILE; break;
    case 2: type = READ_HALF_FROM_FILE; break;
    case 4: type = READ_QUARTER_FROM_FILE; break;
    case 8: type = READ_EIGHTH_FROM_FILE; break;
    default: return Usage();
  }

  JpegCoreProperties params;
  std::memset(&params, 0, sizeof(params));
  int result = JpegInit(&params);
  if (result == 0) {
    params.jpeg_file = input.c_str();
    result = JpegRead(&params, READ_PARAMS_FROM_FILE);
  }
  const uint32_t width = params.jpeg_width, height = params.jpeg_height, channels = params.jpeg_channels;
  const uint32_t colour = StreamColour(params);
  JpegFree(&params);
  if (result != 0) {
    std::cerr << "JpegRead (parameters): " << JpegErrorString(result) << " (" << result << ")\n";
    return 1;
  }

  // The picture at the chosen scale, or the region of it.
  int outWidth = static_cast<int>((width + scale - 1) / scale), outHeight = static_cast<int>((height + scale - 1) / scale);
  if (region.right != 0 || region.bottom != 0) {
    outWidth = std::min(region.right, outWidth) - std::max(region.left, 0);
    outHeight = std::min(region.bottom, outHeight) - std::max(region.top, 0);
    if (outWidth <= 0 || outHeight <= 0) {
      std::cerr << "the region lies outside the picture\n";
      return 1;
    }
  }
  const bool grey = colour == COLOR_GRAY;
  // Four-component pictures come as inverted RGBA; the PPM keeps their colour.
  const bool fourComponents = channels == 4;
  const int pixelBytes = grey ? 1 : fourComponents ? 4 : 3;
  std::vector<uint8_t> pixels(static_cast<size_t>(outWidth) * outHeight * pixelBytes);
  JpegCoreProperties props;
  std::memset(&props, 0, sizeof(props));
  result = JpegInit(&props);
  if (result == 0) {
    props.jpeg_file = input.c_str();
    props.jpeg_channels = channels;
    props.jpeg_color = colour;
    props.image_bytes = pixels.data();
    props.image_width = static_cast<uint32_t>(outWidth);
    props.image_height = outHeight;
    props.image_channels = static_cast<uint32_t>(pixelBytes);
    props.image_color = grey ? COLOR_GRAY : fourComponents ? COLOR_RGBA : COLOR_RGB;
    props.props.dct_method = static_cast<uint32_t>(dct);
    props.props.upsampling_mode = smooth ? 1 : 0;
    props.props.region_of_interest = region;
    result = JpegRead(&props, type);
  }
  JpegFree(&props);
  // Damaged or cut data still leaves the picture decoded so far: it is
  // written, and the exit status (2) says it is incomplete.
  const bool damaged = result == JPEG_ERR_DATA || result == JPEG_ERR_BAD_RST || result == JPEG_ERR_FILE ||
                       result == JPEG_ERR_EOF;
  if (result != 0 && result != JPEG_ROI_SUCCESS) {
    std::cerr << "JpegRead: " << JpegErrorString(result) << " (" << result << ")"
              << (damaged ? ", the picture decoded so far is written" : "") << "\n";
    if (!damaged) return 1;
  }
  if (fourComponents) {
    for (size_t i = 0, o = 0; i < pixels.size(); i += 4)
      for (int k = 0; k < 3; ++k) pixels[o++] = static_cast<uint8_t>(255 - pixels[i + k]);
    pixels.resize(pixels.size() / 4 * 3);
  }
  std::ofstream out(output, std::ios::binary);
  out << (grey ? "P5\n" : "P6\n") << outWidth << " " << outHeight << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  if (!out.good()) return 1;
  return result == 0 || result == JPEG_ROI_SUCCESS ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  if (command == "encode") return Encode(argc, argv);
  if (command == "decode") return Decode(argc, argv);
  return Usage();
}
