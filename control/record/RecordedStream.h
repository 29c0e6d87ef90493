#pragma once
// The MPEG-4 stream header a reader of movie files puts in front of a
// recorded stream. The frame header's event nibble names the form
// (interlaced or progressive); a key frame that decodes cleanly only in the
// other form overrules it, so files from writers that kept bare event flags
// in the nibble still play.
#include "MovieFormat.h"
#include "control/display/StreamHeader.h"

#include <cstdint>

namespace vyrmovie {

// Whether the stream that `header` and its payload (`length` bytes) begin
// needs the interlaced form of the stream header.
bool RecordedStreamIsInterlaced(const MovieFrameHeader& header, const uint8_t* payload, uint32_t length);

// The stream header for the frame's picture in that form.
vyrdax::StreamHeader RecordedStreamHeader(const MovieFrameHeader& header, const uint8_t* payload, uint32_t length);

} // namespace vyrmovie
