#pragma once
// The 64-byte frame-info record: bytes 12..75 of a video packet's header,
// travelling unchanged with its frame to the display and the recorder.
#include "control/ByteOrder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vyrdax {

struct FrameInfo {
    static constexpr std::size_t kSize = 64;
    // Byte offsets within the record.
    static constexpr std::size_t kLength = 0;
    static constexpr std::size_t kFrameType = 4;
    static constexpr std::size_t kStreamWord = 8;
    static constexpr std::size_t kEventBits = 12;
    static constexpr std::size_t kTitleForm = 16;
    static constexpr std::size_t kChannel = 20;
    static constexpr std::size_t kWidth = 24;
    static constexpr std::size_t kHeight = 28;
    static constexpr std::size_t kInterlace = 32;
    static constexpr std::size_t kFirstStreamByte = 36;
    static constexpr std::size_t kIntervalCode = 40;
    static constexpr std::size_t kYear = 44;
    static constexpr std::size_t kMonth = 45;
    static constexpr std::size_t kDay = 46;
    static constexpr std::size_t kHour = 47;
    static constexpr std::size_t kStreamTime = 48;
    static constexpr std::size_t kStreamMicroseconds = 52;
    static constexpr std::size_t kTitleTime = 56;
    static constexpr std::size_t kMinute = 60;
    static constexpr std::size_t kSecond = 61;
    static constexpr std::size_t kChannelState = 62;
    // The channel state byte of a frame the DVR plays back from its
    // recordings.
    static constexpr uint8_t kPlaybackState = 0xFF;

    std::array<uint8_t, kSize> bytes{};

    uint32_t Word(std::size_t offset) const { return ReadLE32(bytes.data() + offset); }
    void SetWord(std::size_t offset, uint32_t v) { WriteLE32(bytes.data() + offset, v); }
    uint32_t Length() const { return Word(kLength); }
    bool IsKeyFrame() const { return Word(kFrameType) == 0; }
    bool IsPlayback() const { return bytes[kChannelState] == kPlaybackState; }
};
static_assert(sizeof(FrameInfo) == FrameInfo::kSize, "frame-info record is 64 bytes");

} // namespace vyrdax
