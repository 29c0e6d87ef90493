// Checks of a properties record before a read or write.
#include <cstddef>

#include "JpegCodec.h"

namespace {

struct ColourPair {
  uint32_t fromColour;
  uint32_t fromChannels;  // 0: any count
  uint32_t toColour;
  uint32_t toChannels;  // 0: any count
};

// Write: image colour and channels, then an allowed JPEG colour and channels.
const ColourPair kWritePairs[] = {
    {COLOR_GRAY, 1, COLOR_GRAY, 1},   {COLOR_GRAY, 1, COLOR_YCBCR, 3},  {COLOR_RGB, 3, COLOR_GRAY, 1},
    {COLOR_RGB, 3, COLOR_RGB, 3},     {COLOR_RGB, 3, COLOR_YCBCR, 3},   {COLOR_RGB, 4, COLOR_YCBCR, 3},
    {COLOR_BGR, 3, COLOR_GRAY, 1},    {COLOR_BGR, 3, COLOR_RGB, 3},     {COLOR_BGR, 3, COLOR_YCBCR, 3},
    {COLOR_RGBA, 4, COLOR_RGBA, 4},   {COLOR_RGBA, 4, COLOR_YCBCRA, 4}, {COLOR_YCBCR, 3, COLOR_YCBCR, 3},
};

// Read: JPEG colour and channels, then an allowed image colour and channels.
const ColourPair kReadPairs[] = {
    {COLOR_GRAY, 1, COLOR_GRAY, 1},  {COLOR_GRAY, 1, COLOR_RGB, 3},    {COLOR_GRAY, 1, COLOR_BGR, 3},
    {COLOR_GRAY, 1, COLOR_RGBA, 4},  {COLOR_RGB, 3, COLOR_RGB, 3},     {COLOR_RGB, 3, COLOR_BGR, 3},
    {COLOR_RGB, 3, COLOR_RGBA, 4},   {COLOR_RGBA, 4, COLOR_RGBA, 4},   {COLOR_YCBCR, 3, COLOR_GRAY, 1},
    {COLOR_YCBCR, 3, COLOR_RGB, 3},  {COLOR_YCBCR, 3, COLOR_BGR, 3},   {COLOR_YCBCR, 3, COLOR_RGBA, 4},
    {COLOR_YCBCR, 3, COLOR_YCBCR, 0}, {COLOR_YCBCRA, 4, COLOR_RGBA, 4},
};

template <size_t N>
bool PairAllowed(const ColourPair (&pairs)[N], uint32_t fromColour, uint32_t fromChannels, uint32_t toColour,
                 uint32_t toChannels) {
  for (const ColourPair& pair : pairs)
    if (pair.fromColour == fromColour && pair.fromChannels == fromChannels && pair.toColour == toColour &&
        (pair.toChannels == 0 || pair.toChannels == toChannels))
      return true;
  return false;
}

bool TouchesPixels(int32_t type) {
  return type == 2 || type == 3 || type == 6 || type == 7 || type == 8 || type == 9 || type == 12 ||
         type == 13 || (type >= 14 && type <= 21);
}

bool IsWrite(int32_t type) { return type >= WRITE_IMAGE_TO_FILE && type <= WRITE_ENTROPY_TO_BUFFER; }

bool CarriesImage(int32_t type) { return type == 8 || type == 9 || type == 12 || type == 13; }

}  // namespace

bool JpegReadPairAllowed(uint32_t jpegColour, uint32_t jpegChannels, uint32_t imageColour, uint32_t imageChannels) {
  if (jpegColour == COLOR_OTHER && imageColour == COLOR_OTHER) return true;
  return PairAllowed(kReadPairs, jpegColour, jpegChannels, imageColour, imageChannels);
}

int32_t JpegValidateProperties(JpegCoreProperties* p) {
  if (p == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
  if (p->direct_properties != 0) return JPEG_SUCCESS;
  const JPEG_PROPERTIES& props = p->props;
  const int32_t type = props.io_type;

  if (type < 0 || type > 21) return JPEG_ERR_INVALID_PROPERTIES;

  if (props.read_request != 0 && props.read_request_mode == 1) return JPEG_ERR_INVALID_PROPERTIES;
  if (TouchesPixels(type) && props.read_request == 0) {
    if (p->image_bytes == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
    if (p->image_width < 1 || p->image_width > 65535) return JPEG_ERR_INVALID_PROPERTIES;
    // A buffer of no rows describes no picture.
    if (p->image_height < -65535 || p->image_height > 65535 || p->image_height == 0)
      return JPEG_ERR_INVALID_PROPERTIES;
    if ((type == 20 || type == 21) && p->image_color != COLOR_RGB && p->image_color != COLOR_BGR)
      return JPEG_ERR_THUMB_COLOR;
    if (p->image_pad_bytes > 0x7FFFFFFFu) return JPEG_ERR_INVALID_PROPERTIES;  // negative as signed
    if (p->image_channels < 1 || p->image_channels > 255) return JPEG_ERR_INVALID_PROPERTIES;
    if (p->image_subsampling != 0 && !(p->image_subsampling == 2 && p->image_color == COLOR_YCBCR))
      return JPEG_ERR_SUBSAMPLING;
  }

  if ((type & 1) == 0) {
    if (p->jpeg_file == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
  } else if (p->jpeg_bytes == nullptr || p->jpeg_size == 0) {
    return JPEG_ERR_INVALID_PROPERTIES;
  }

  if (p->jpeg_channels < 1 || p->jpeg_channels > 256) return JPEG_ERR_INVALID_PROPERTIES;

  if (IsWrite(type)) {
    // The encoder keeps four components.
    if (p->jpeg_channels > 4) return JPEG_ERR_INVALID_PROPERTIES;
    if (CarriesImage(type)) {
      if (p->jpeg_width < 1 || p->jpeg_width > 65535 || p->jpeg_height < 1 || p->jpeg_height > 65535)
        return JPEG_ERR_INVALID_PROPERTIES;
      // The frame is the picture in the buffer: a different size would read
      // outside it or leave part of it out.
      const uint32_t rows = static_cast<uint32_t>(p->image_height < 0 ? -p->image_height : p->image_height);
      if (p->jpeg_width != p->image_width || p->jpeg_height != rows) return JPEG_ERR_INVALID_PROPERTIES;
      if (p->image_color != COLOR_GRAY && p->jpeg_color != COLOR_YCBCR && p->jpeg_channels > p->image_channels)
        return JPEG_ERR_INVALID_PROPERTIES;
    }
    const uint32_t n = p->jpeg_channels, mode = p->jpeg_subsampling;
    bool fits;
    if (n == 1)
      fits = mode == 0;
    else if (n == 3)
      fits = mode <= 2;
    else if (n == 4)
      fits = mode == 0 || mode == 3 || mode == 4;
    else
      fits = mode == 0;
    if (!fits) return JPEG_ERR_SUBSAMPLING;

    bool allowed = PairAllowed(kWritePairs, p->image_color, p->image_channels, p->jpeg_color, p->jpeg_channels);
    if (p->image_color == COLOR_OTHER && p->jpeg_color == COLOR_OTHER && p->jpeg_channels <= p->image_channels)
      allowed = true;
    if (!allowed) return JPEG_ERR_INVALID_PROPERTIES;
  } else if (!JpegReadPairAllowed(p->jpeg_color, p->jpeg_channels, p->image_color, p->image_channels)) {
    return JPEG_ERR_INVALID_PROPERTIES;
  }

  if (props.dct_method > 1) return JPEG_ERR_INVALID_PROPERTIES;
  return JPEG_SUCCESS;
}
