#pragma once
// Planar 4:2:0 pictures to 32-bit pixels (blue, green, red, 0xFF in memory).
#include <cstdint>

namespace vyrdax {

// Prepares the conversion routines; safe to call more than once.
void InitColorConversion();

// Converts a width x height I420 picture (even sizes; chroma planes of
// width/2 x height/2 with rows of `chromaStride` bytes) into rows of
// `dstStride` bytes.
void ConvertI420ToBgra(const uint8_t* y, int yStride, const uint8_t* u, const uint8_t* v, int chromaStride,
                       int width, int height, uint8_t* dst, int dstStride);

// The BT.601 studio-range conversion done one pixel at a time, kept as the
// reference the fast path is tested against.
void ConvertI420ToBgraReference(const uint8_t* y, int yStride, const uint8_t* u, const uint8_t* v,
                                int chromaStride, int width, int height, uint8_t* dst, int dstStride);

} // namespace vyrdax
