#pragma once
// MPEG-4 headers put in front of a channel's first frame: a visual object
// start code and a video object layer, patched for the picture. Shared by the
// control and the movie player.
#include <array>
#include <cstddef>
#include <cstdint>

namespace vyrdax {

inline constexpr std::size_t kStreamHeaderSize = 30;
using StreamHeader = std::array<uint8_t, kStreamHeaderSize>;
extern const StreamHeader kStreamHeaderTemplate;
void PatchStreamHeader(StreamHeader& header, uint32_t width, uint32_t height, bool interlaced);

} // namespace vyrdax
