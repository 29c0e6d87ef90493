// Public interface of the JPEG codec: one caller-owned record, six operations.
// The caller zeroes a JpegCoreProperties, calls JpegInit, fills the fields that
// describe its pixel buffer and the stream it wants, calls JpegWrite/JpegRead
// with an I/O type code and finally JpegFree. No Qt, no GUI.
#pragma once

#include <cstdint>

// Colour codes (image_color, jpeg_color).
constexpr uint32_t COLOR_RGB = 1;
constexpr uint32_t COLOR_BGR = 2;
constexpr uint32_t COLOR_YCBCR = 3;
constexpr uint32_t COLOR_GRAY = 4;
constexpr uint32_t COLOR_RGBA = 5;  // stored inverted (255 - value) in bytes 0..2
constexpr uint32_t COLOR_YCBCRA = 6;
constexpr uint32_t COLOR_OTHER = 255;

// JPEG sampling modes (jpeg_subsampling).
constexpr uint32_t SUBSAMPLING_NONE = 0;
constexpr uint32_t SUBSAMPLING_420 = 1;
constexpr uint32_t SUBSAMPLING_422 = 2;
constexpr uint32_t SUBSAMPLING_420_ALPHA = 3;
constexpr uint32_t SUBSAMPLING_422_ALPHA = 4;

// I/O type codes: even codes use jpeg_file, odd codes jpeg_bytes/jpeg_size.
constexpr int32_t READ_PARAMS_FROM_FILE = 0;
constexpr int32_t READ_PARAMS_FROM_BUFFER = 1;
constexpr int32_t READ_IMAGE_FROM_FILE = 2;
constexpr int32_t READ_IMAGE_FROM_BUFFER = 3;
constexpr int32_t READ_HEADER_FROM_FILE = 4;
constexpr int32_t READ_HEADER_FROM_BUFFER = 5;
constexpr int32_t READ_ENTROPY_FROM_FILE = 6;
constexpr int32_t READ_ENTROPY_FROM_BUFFER = 7;
constexpr int32_t WRITE_IMAGE_TO_FILE = 8;
constexpr int32_t WRITE_IMAGE_TO_BUFFER = 9;
constexpr int32_t WRITE_HEADER_TO_FILE = 10;
constexpr int32_t WRITE_HEADER_TO_BUFFER = 11;
constexpr int32_t WRITE_ENTROPY_TO_FILE = 12;
constexpr int32_t WRITE_ENTROPY_TO_BUFFER = 13;
constexpr int32_t READ_HALF_FROM_FILE = 14;
constexpr int32_t READ_HALF_FROM_BUFFER = 15;
constexpr int32_t READ_QUARTER_FROM_FILE = 16;
constexpr int32_t READ_QUARTER_FROM_BUFFER = 17;
constexpr int32_t READ_EIGHTH_FROM_FILE = 18;
constexpr int32_t READ_EIGHTH_FROM_BUFFER = 19;
constexpr int32_t READ_THUMBNAIL_FROM_FILE = 20;
constexpr int32_t READ_THUMBNAIL_FROM_BUFFER = 21;

// Result codes; JpegErrorString gives their texts.
constexpr int32_t JPEG_ROI_SUCCESS = 2;
constexpr int32_t JPEG_INTERRUPT_SUCCESS = 1;
constexpr int32_t JPEG_SUCCESS = 0;
constexpr int32_t JPEG_ERR_EXCEPTION = -1;
constexpr int32_t JPEG_ERR_INVALID_ENCODER = -2;
constexpr int32_t JPEG_ERR_SUBSAMPLING = -3;
constexpr int32_t JPEG_ERR_BYTES_PER_PIXEL = -4;
constexpr int32_t JPEG_ERR_MEMORY = -5;
constexpr int32_t JPEG_ERR_BAD_HUFFMAN = -6;
constexpr int32_t JPEG_ERR_BAD_QUANT = -7;
constexpr int32_t JPEG_ERR_INVALID_PROPERTIES = -8;
constexpr int32_t JPEG_ERR_CLOSE_FILE = -9;
constexpr int32_t JPEG_ERR_FILE_NAME = -10;
constexpr int32_t JPEG_ERR_EOF = -11;
constexpr int32_t JPEG_ERR_NOT_SUPPORTED = -12;
constexpr int32_t JPEG_ERR_NOT_JPEG = -13;
constexpr int32_t JPEG_ERR_COMP = -14;
constexpr int32_t JPEG_ERR_SOF = -15;
constexpr int32_t JPEG_ERR_DNL = -16;
constexpr int32_t JPEG_ERR_NO_HUFFMAN = -17;
constexpr int32_t JPEG_ERR_NO_QUANT = -18;
constexpr int32_t JPEG_ERR_NO_FRAME = -19;
constexpr int32_t JPEG_ERR_MULTIPLE_FRAMES = -20;
constexpr int32_t JPEG_ERR_DATA = -21;
constexpr int32_t JPEG_ERR_NO_IMAGE = -22;
constexpr int32_t JPEG_ERR_FILE = -23;
constexpr int32_t JPEG_ERR_INTERNAL = -24;
constexpr int32_t JPEG_ERR_BAD_RST = -25;
constexpr int32_t JPEG_ERR_THUMB_TOO_SMALL = -26;
constexpr int32_t JPEG_ERR_THUMB_COLOR = -27;
constexpr int32_t JPEG_ERR_BUFFER_TOO_SMALL = -28;
constexpr int32_t JPEG_ERR_UNSUPPORTED_FRAME = -29;
constexpr int32_t JPEG_ERR_COMMENT_ACCESS = -30;
constexpr int32_t JPEG_ERR_RESERVED = -99;

// Rectangle in pixels, right and bottom exclusive; all zero is empty (and, as
// the region of interest, the whole picture).
struct JpegRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct JpegRuntime;    // per-record processor dispatch (JpegRuntime.h)
struct JpegWorkState;  // per-record encoder/decoder working state

// Read side: decoded data instead of pixels, one plane of 16-bit values per
// frame component. With mode 0 each block's quantised coefficients (natural
// order), with any other mode its transformed samples, are stored as 8 rows of
// 8 values at the block's place; a plane row holds MCUs per row x H x 8
// values and the plane MCU rows x V x 8 rows.
struct JpegReadRequestRecord {
  uint32_t mode;
  int16_t* planes[4];
};

// The codec's working record. The copies of the core fields are filled by the
// operations unless direct_properties is set, in which case the caller fills them.
struct JPEG_PROPERTIES {
  uint8_t* image_bytes;
  uint32_t image_width;
  int32_t image_height;
  uint32_t image_pad_bytes;
  uint32_t image_channels;
  uint32_t image_color;
  uint32_t image_subsampling;
  const char* jpeg_file;
  uint8_t* jpeg_bytes;
  uint32_t jpeg_size;
  uint32_t jpeg_width;
  uint32_t jpeg_height;
  uint32_t jpeg_channels;
  uint32_t jpeg_color;
  uint32_t jpeg_subsampling;
  uint32_t thumb_width;
  uint32_t thumb_height;
  uint32_t color_convert;
  uint32_t upsample;
  int32_t quality;

  int32_t io_type;
  uint32_t dct_method;         // 0 scaled (fast) transform, 1 exact transform
  uint32_t restart_interval;   // MCUs between restart markers, 0 none
  uint32_t interrupt_request;  // read atomically; may be set from another thread
  int32_t progress_width;
  int32_t progress_height;
  uint32_t progressive;

  // Caller tables. Quantisation table i has table number i (64 bytes, zigzag).
  // Huffman pair i is DC table i (huffman_bits[2i], huffman_values[2i]) and AC
  // table i (index 2i+1); bits are the 16 code-length counts.
  const uint8_t* quant_tables[4];
  uint32_t quant_table_count;
  const uint8_t* huffman_bits[8];
  const uint8_t* huffman_values[8];
  uint32_t huffman_table_count;  // number of DC/AC pairs
  uint8_t dc_table_select[4];    // per component
  uint8_t ac_table_select[4];

  uint16_t adobe_version;
  uint16_t adobe_flags0;
  uint16_t adobe_flags1;
  uint16_t jfif_version;
  uint8_t jfif_units;
  uint16_t jfif_x_density;
  uint16_t jfif_y_density;
  const uint8_t* jpeg_comment;
  uint16_t comment_size;

  // Read side: a raw-data request of the decoder. While read_request is set the
  // pixel-buffer checks are skipped; with read_request_mode 1 the call is refused.
  uint32_t read_request;
  uint32_t read_request_mode;

  // Read side: the part of the picture to decode, in output pixels at the
  // read's scale; buffer pixel (0, 0) receives its top-left corner.
  JpegRect region_of_interest;
  uint32_t upsampling_mode;  // 1: triangle-filter upsampling of 2x1 and 2x2 chroma
  uint8_t adobe_transform;   // colour transform byte of the stream's APP14 segment; 255: none
  JpegReadRequestRecord* read_request_record;  // null: pixels into image_bytes

  JpegRuntime* runtime;
  JpegWorkState* work;
};

struct JpegCoreProperties {
  uint32_t direct_properties;
  uint8_t* image_bytes;
  uint32_t image_width;
  int32_t image_height;  // negative: rows stored bottom-up
  uint32_t image_pad_bytes;
  uint32_t image_channels;
  uint32_t image_color;
  uint32_t image_subsampling;
  const char* jpeg_file;
  uint8_t* jpeg_bytes;
  uint32_t jpeg_size;
  uint32_t jpeg_width;
  uint32_t jpeg_height;
  uint32_t jpeg_channels;
  uint32_t jpeg_color;
  uint32_t jpeg_subsampling;
  uint32_t thumb_width;
  uint32_t thumb_height;
  uint32_t color_convert;
  uint32_t upsample;
  int32_t quality;
  JPEG_PROPERTIES props;
};

struct JpegVersionInfo {
  int32_t major;
  int32_t minor;
  int32_t build;
  const char* name;
  const char* version;
  const char* internalVersion;
  const char* buildDate;
  const char* compiler;
};

int32_t JpegInit(JpegCoreProperties* properties);
int32_t JpegWrite(JpegCoreProperties* properties, int32_t ioType);
int32_t JpegRead(JpegCoreProperties* properties, int32_t ioType);
int32_t JpegFree(JpegCoreProperties* properties);
const JpegVersionInfo* JpegGetLibVersion();
const char* JpegErrorString(int32_t code);
int32_t JpegValidateProperties(JpegCoreProperties* properties);
// Whether a stream of the JPEG colour and component count may be read into a
// buffer of the image colour and channel count.
bool JpegReadPairAllowed(uint32_t jpegColour, uint32_t jpegChannels, uint32_t imageColour, uint32_t imageChannels);
