// Encoder input stage: choice of the per-MCU input routine for an image.
#pragma once

#include <cstdint>

struct JpegWorkState;
struct JPEG_PROPERTIES;
struct JpegRoutineTable;

// Chooses the input routine from colours, channels and sampling. Result 0,
// -14 for a bad component count, or -12 when no routine fits the combination.
int32_t JpegSelectInputConverter(JpegWorkState* work, const JPEG_PROPERTIES* props,
                                 JpegRoutineTable* routines);

// Converts an MCU cut by the right or bottom border (numbered routines only).
void JpegInputEdge(JpegWorkState* work, const uint8_t* source, int validWidth, int validHeight);
