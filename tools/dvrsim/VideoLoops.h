// Each channel's video: a loop of MPEG-4 frames encoded once at start-up
// and replayed with fresh headers, so serving many channels costs only copies.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dvrsim {

struct EncodedFrame {
    std::vector<std::uint8_t> bytes;  // one video object plane, from its start code on
    bool key = false;
};

struct LoopSettings {
    int width = 352;
    int height = 240;
    double fps = 30.0;
    int gop = 15;
    int loopFrames = 30;  // a whole number of groups of pictures
    bool interlace = false;
    int quant = 5;
};

// Frames of a channel stay below this, well inside the link's 131072-byte
// payload limit; the quantiser is raised until they do.
constexpr std::size_t kLargestEncodedFrame = 120000;

// Encodes one channel's loop. Frame i is a key frame exactly when i is a
// multiple of the group size, so the loop can restart at any group.
// The frames carry no sequence or layer headers: the receiver supplies them.
bool encodeChannelLoop(const LoopSettings& settings, int channel, std::vector<EncodedFrame>& frames,
                       std::string& error);

class VideoLoops {
public:
    // Encodes `channels` loops on up to `threads` threads (0: one per core).
    bool build(const LoopSettings& settings, int channels, int threads, std::string& error);
    const std::vector<EncodedFrame>& channel(int index) const { return loops_[static_cast<std::size_t>(index)]; }
    int channelCount() const { return static_cast<int>(loops_.size()); }
    const LoopSettings& settings() const { return settings_; }

private:
    LoopSettings settings_;
    std::vector<std::vector<EncodedFrame>> loops_;
};

}  // namespace dvrsim
