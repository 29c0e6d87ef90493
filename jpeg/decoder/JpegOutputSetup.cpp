// Decoder output set-up: whether colour conversion and upsampling are needed,
// and which output routine turns decoded MCUs into the caller's pixels.
#include "JpegWorkState.h"
#include "decoder/JpegDecoder.h"

namespace {

bool Sampling(const JpegDecodeState& s, int h0, int v0) {
  if (s.componentCount != 3 && s.componentCount != 4) return false;
  if (s.components[0].h != h0 || s.components[0].v != v0) return false;
  for (int c = 1; c < 3; ++c)
    if (s.components[c].h != 1 || s.components[c].v != 1) return false;
  return s.componentCount == 3 || (s.components[3].h == h0 && s.components[3].v == v0);
}

// Fast-path code of the combination, or -1 when the general path serves it.
int FastCode(const JpegDecodeState& s, bool convert, bool upsample, uint32_t channels, uint32_t colour,
             bool smooth) {
  const int n = s.componentCount;
  const bool s420 = Sampling(s, 2, 2), s422 = Sampling(s, 2, 1), s111 = Sampling(s, 1, 1);
  if (upsample && convert) {
    if (smooth) return -1;
    if (n == 3 && channels == 3 && colour == COLOR_RGB) return s420 ? 3 : s422 ? 5 : -1;
    if (n == 3 && channels == 3 && colour == COLOR_BGR) return s420 ? 4 : s422 ? 6 : -1;
    if (n == 3 && channels == 4 && colour == COLOR_RGBA) return s420 ? 8 : s422 ? 9 : -1;
    if (n == 4 && channels == 4 && colour == COLOR_RGBA) return s420 ? 11 : s422 ? 12 : -1;
    return -1;
  }
  if (convert) {
    if (!s111) return -1;
    if (n == 3 && channels == 3 && colour == COLOR_RGB) return 1;
    if (n == 3 && channels == 3 && colour == COLOR_BGR) return 2;
    if (n == 3 && channels == 4 && colour == COLOR_RGBA) return 7;
    if (n == 4 && channels == 4 && colour == COLOR_RGBA) return 10;
    return -1;
  }
  if (upsample) {
    if (smooth || n != 3 || channels != 3 || colour == COLOR_BGR) return -1;
    return s420 ? 16 : s422 ? 17 : -1;
  }
  if (n == 1 && channels == 1) return 0;
  if (n == 3 && channels == 2 && s422) return 19;
  if (!s111) return -1;
  if (n == 3 && channels == 3 && colour != COLOR_BGR) return 15;
  if (n == 3 && channels == 4 && colour == COLOR_RGBA) return 13;
  if (n == 4 && channels == 4) return 14;
  return -1;
}

}  // namespace

int32_t JpegSelectOutputConverter(JPEG_PROPERTIES* props) {
  JpegDecodeState* s = props->work->decode.get();
  const uint32_t jc = props->jpeg_color, ic = props->image_color, channels = props->image_channels;
  const int n = s->componentCount;
  if (n < 1 || n > 4) return JPEG_ERR_COMP;
  // The caller names the stream's colour; it has to fit the frame and the buffer.
  if (!JpegReadPairAllowed(jc, static_cast<uint32_t>(n), ic, channels)) return JPEG_ERR_INVALID_PROPERTIES;

  const bool convert = !(jc == COLOR_GRAY || jc == COLOR_RGB || jc == COLOR_RGBA || jc == COLOR_OTHER ||
                         ic == COLOR_GRAY || ic == COLOR_YCBCR);
  bool subsampled = false;
  for (int c = 0; c < n; ++c) subsampled |= s->components[c].h != 1 || s->components[c].v != 1;
  const bool upsample = subsampled && ic != COLOR_YCBCR;
  props->color_convert = convert ? 1 : 0;
  props->upsample = upsample ? 1 : 0;

  if (n == 3 && jc == COLOR_YCBCR && ic == COLOR_YCBCR) {
    // Packed pairs share their chroma, so they take 4:2:2 only; full pixels
    // take unsubsampled chroma only.
    if (channels == 2 ? !Sampling(*s, 2, 1) : subsampled) return JPEG_ERR_INVALID_PROPERTIES;
  } else if (channels == 2 && !(jc == COLOR_OTHER && ic == COLOR_OTHER)) {
    return JPEG_ERR_INVALID_PROPERTIES;
  }

  const bool smooth = props->upsampling_mode == 1;
  const int code = FastCode(*s, convert, upsample, channels, ic, smooth);
  s->fastCode = code < 0 ? 0 : code;
  JpegOutputRoutine routine = code < 0 ? nullptr : JpegFastOutputRoutine(code);
  props->runtime->routines.outputKernels[0].routine = routine;
  s->useFastPath = routine != nullptr;
  return JPEG_SUCCESS;
}
