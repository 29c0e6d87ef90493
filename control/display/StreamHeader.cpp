#include "StreamHeader.h"

namespace vyrdax {

const StreamHeader kStreamHeaderTemplate = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x02, 0x48,
                                            0x0D, 0xC0, 0x00, 0x40, 0x00, 0x40, 0x00, 0x40, 0x00, 0x80,
                                            0x00, 0x97, 0x53, 0x0A, 0x2C, 0x08, 0x3C, 0x28, 0x8C, 0x1F};

void PatchStreamHeader(StreamHeader& header, uint32_t w, uint32_t h, bool interlaced)
{
    // The 13-bit width and height of the video object layer with their
    // marker bits, then its interlaced bit.
    header[23] = static_cast<uint8_t>(10 + (w >> 12));
    header[24] = static_cast<uint8_t>((w >> 4) & 0xFF);
    header[25] = static_cast<uint8_t>(((w & 15) << 4) + ((h >> 10) & 7) + 8);
    header[26] = static_cast<uint8_t>((h >> 2) & 0xFF);
    header[27] = static_cast<uint8_t>(((h & 3) << 6) + (interlaced ? 0x38 : 0x28));
}

} // namespace vyrdax
