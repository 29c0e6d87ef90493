// The six operations of the codec around JpegCoreProperties.
#include <cstring>
#include <exception>
#include <new>

#include "JpegCodec.h"
#include "JpegWorkState.h"
#include "dispatch/JpegRuntime.h"
#include "decoder/JpegDecoder.h"
#include "encoder/JpegEncoder.h"

namespace {

const JpegVersionInfo kVersion = {1, 0, 3, "vyrjpeg.lib", "1.0.3", "[1.0.3.7]", "Mar 12 2004", "GNU C++"};

struct ErrorText {
  int32_t code;
  const char* text;
};

const ErrorText kErrorTexts[] = {
    {2, "ROI Success"},
    {1, "Interrupt Success"},
    {0, "Success"},
    {-1, "Exception detected"},
    {-2, "Invalid Encoder"},
    {-3, "Unsupported subsampling"},
    {-4, "Unsupported bytes per pixel"},
    {-5, "Memory error"},
    {-6, "Bad Huffman table"},
    {-7, "Bad Quantization table"},
    {-8, "Invalid JPEG_PROPERTIES"},
    {-9, "Error close file"},
    {-10, "Invalid file name"},
    {-11, "Error EOF"},
    {-12, "Not supported"},
    {-13, "Not JPEG"},
    {-14, "Error COMP"},
    {-15, "Error SOF"},
    {-16, "Error DNL"},
    {-17, "No Huffman table"},
    {-18, "No Quantization table"},
    {-19, "No frame"},
    {-20, "Multiply frame"},
    {-21, "Data error"},
    {-22, "No image"},
    {-23, "File error"},
    {-24, "Internal error"},
    {-25, "Bad RST marker"},
    {-26, "Thumbnail too small"},
    {-27, "Thumbnail has wrong color"},
    {-28, "Output buffer too small"},
    {-29, "Unsupported frame was found"},
    {-30, "Error access to jpeg_comment buffer"},
    {-99, "Reserved"},
};

void ReleaseWork(JPEG_PROPERTIES* props) {
  delete props->work;
  props->work = nullptr;
  if (props->runtime != nullptr) JpegReleaseRuntime(props->runtime);
  delete props->runtime;
  props->runtime = nullptr;
}

// Nothing escapes to the caller: memory exhaustion is -5, anything else -1.
template <typename Operation>
int32_t Guarded(Operation operation) {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return JPEG_ERR_MEMORY;
  } catch (...) {
    return JPEG_ERR_EXCEPTION;
  }
}

}  // namespace

void JpegCopyCoreFields(const JpegCoreProperties* core, JPEG_PROPERTIES* props) {
  props->image_bytes = core->image_bytes;
  props->image_width = core->image_width;
  props->image_height = core->image_height;
  props->image_pad_bytes = core->image_pad_bytes;
  props->image_channels = core->image_channels;
  props->image_color = core->image_color;
  props->image_subsampling = core->image_subsampling;
  props->jpeg_file = core->jpeg_file;
  props->jpeg_bytes = core->jpeg_bytes;
  props->jpeg_size = core->jpeg_size;
  props->jpeg_width = core->jpeg_width;
  props->jpeg_height = core->jpeg_height;
  props->jpeg_channels = core->jpeg_channels;
  props->jpeg_color = core->jpeg_color;
  props->jpeg_subsampling = core->jpeg_subsampling;
  props->thumb_width = core->thumb_width;
  props->thumb_height = core->thumb_height;
  props->color_convert = core->color_convert;
  props->upsample = core->upsample;
  props->quality = core->quality;
}

int32_t JpegInit(JpegCoreProperties* properties) {
  if (properties == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
  JPEG_PROPERTIES* props = &properties->props;
  props->runtime = new (std::nothrow) JpegRuntime;
  props->work = new (std::nothrow) JpegWorkState;
  if (props->runtime == nullptr || props->work == nullptr) {
    ReleaseWork(props);
    return JPEG_ERR_MEMORY;
  }
  JpegInitRuntime(props->runtime);

  properties->image_channels = 3;
  properties->image_color = COLOR_BGR;
  properties->jpeg_channels = 3;
  properties->jpeg_color = COLOR_YCBCR;
  properties->jpeg_subsampling = SUBSAMPLING_420;
  properties->color_convert = 1;
  properties->upsample = 1;
  properties->quality = 75;

  props->io_type = -1;
  props->dct_method = 1;
  props->restart_interval = 0;
  props->interrupt_request = 0;
  props->progress_width = 0;
  props->progress_height = 0;
  props->progressive = 0;
  for (int i = 0; i < 4; ++i) props->quant_tables[i] = nullptr;
  props->quant_table_count = 0;
  for (int i = 0; i < 8; ++i) {
    props->huffman_bits[i] = nullptr;
    props->huffman_values[i] = nullptr;
  }
  props->huffman_table_count = 0;
  for (int c = 0; c < 4; ++c) {
    props->dc_table_select[c] = c == 0 ? 0 : 1;
    props->ac_table_select[c] = c == 0 ? 0 : 1;
  }
  props->adobe_version = 100;
  props->adobe_flags0 = 0;
  props->adobe_flags1 = 0;
  props->jfif_version = 0x0101;
  props->jfif_units = 0;
  props->jfif_x_density = 1;
  props->jfif_y_density = 1;
  props->jpeg_comment = nullptr;
  props->comment_size = 0;
  props->read_request = 0;
  props->read_request_mode = 0;
  props->region_of_interest = {0, 0, 0, 0};
  props->upsampling_mode = 0;
  props->adobe_transform = kJpegNoAdobeTransform;
  props->read_request_record = nullptr;

  JpegWorkState* work = props->work;
  for (int c = 0; c < kJpegMaxComponents; ++c) work->components[c] = {0, 0, 0, c == 0 ? 0 : 1};
  return JPEG_SUCCESS;
}

int32_t JpegWrite(JpegCoreProperties* properties, int32_t ioType) {
  if (properties == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
  JPEG_PROPERTIES* props = &properties->props;
  // A record whose JpegInit failed (or that was freed) has nothing to write with.
  if (props->runtime == nullptr || props->work == nullptr) return JPEG_ERR_INVALID_ENCODER;
  props->io_type = ioType;
  const int32_t valid = JpegValidateProperties(properties);
  if (valid != 0) return valid;
  if (ioType < WRITE_IMAGE_TO_FILE || ioType > WRITE_ENTROPY_TO_BUFFER) return JPEG_ERR_INVALID_PROPERTIES;
  return Guarded([&] { return JpegWriteStream(properties, ioType); });
}

int32_t JpegRead(JpegCoreProperties* properties, int32_t ioType) {
  if (properties == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
  JPEG_PROPERTIES* props = &properties->props;
  if (props->runtime == nullptr || props->work == nullptr) return JPEG_ERR_INVALID_ENCODER;
  props->io_type = ioType;
  const int32_t valid = JpegValidateProperties(properties);
  if (valid != 0) return valid;
  if (ioType >= WRITE_IMAGE_TO_FILE && ioType <= WRITE_ENTROPY_TO_BUFFER) return JPEG_ERR_INVALID_PROPERTIES;
  return Guarded([&] { return JpegReadStream(properties, ioType); });
}

int32_t JpegFree(JpegCoreProperties* properties) {
  if (properties == nullptr) return JPEG_ERR_INVALID_PROPERTIES;
  JPEG_PROPERTIES* props = &properties->props;
  int32_t result = JPEG_SUCCESS;
  if (props->work != nullptr) {
    if (props->work->file != kJpegNoFile && !JpegFileClose(props->work->file)) result = JPEG_ERR_CLOSE_FILE;
    props->work->file = kJpegNoFile;
    if (result == JPEG_SUCCESS && props->work->componentCount >= 256) result = JPEG_ERR_INVALID_PROPERTIES;
  }
  // Everything is released whatever the result, so a failing free leaks nothing.
  ReleaseWork(props);
  return result;
}

const JpegVersionInfo* JpegGetLibVersion() { return &kVersion; }

const char* JpegErrorString(int32_t code) {
  for (const ErrorText& entry : kErrorTexts)
    if (entry.code == code) return entry.text;
  return "Unknown error code";
}
