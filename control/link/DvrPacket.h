#pragma once
// The 76-byte header that starts every packet between the control and a DVR,
// and the fixed contents of the packets the control builds.
#include "FrameInfo.h"
#include "control/display/StreamHeader.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace vyrdax {

enum DvrPacketType : uint32_t {
    PACKET_SESSION = 1,
    PACKET_VIDEO = 2,
    PACKET_AUDIO = 3,
    PACKET_PTZ = 4,
    PACKET_CONTROL = 5,
};

// Session codes and login replies.
inline constexpr uint32_t SESSION_LOGIN = 1;
inline constexpr uint32_t SESSION_LOGOUT = 2;
inline constexpr uint32_t LOGIN_ACCEPTED = 0x1001;
inline constexpr uint32_t LOGIN_REFUSED = 0x1002;
// Login session kind of event-log and remote search sessions.
inline constexpr uint32_t SESSION_KIND_REMOTE = 323;

// Control packets: the channel mask the control sends, the replies it reads.
inline constexpr uint32_t CONTROL_CHANNEL_MASK = 0;
inline constexpr uint32_t REPLY_ACK = 1;
inline constexpr uint32_t REPLY_SETUP_RECORD = 0x12;
inline constexpr uint32_t REPLY_EVENT_LIST = 0x20;
inline constexpr uint32_t REPLY_SEARCH = 0x21;

// Largest video or audio payload a DVR may send.
inline constexpr uint32_t kMaxPayload = 131072;
inline constexpr int kMaxPictureWidth = 720;
inline constexpr int kMaxPictureHeight = 576;

struct DvrPacketHeader {
    static constexpr std::size_t kSize = 76;
    // Field offsets.
    static constexpr std::size_t kMagic = 0;
    static constexpr std::size_t kType = 8;
    static constexpr std::size_t kCode = 12; // or the payload length of video and audio
    static constexpr std::size_t kFrameInfo = 12;
    // Session packets.
    static constexpr std::size_t kLoginId = 16;
    static constexpr std::size_t kPassword = 24;
    static constexpr std::size_t kRightAndSignal = 32;
    static constexpr std::size_t kSessionKind = 36;
    static constexpr std::size_t kDvrType = 40;
    static constexpr std::size_t kAudioOption = 44;
    // Video and audio packets.
    static constexpr std::size_t kVideoChannel = 32;
    static constexpr std::size_t kVideoWidth = 36;
    static constexpr std::size_t kVideoHeight = 40;
    static constexpr std::size_t kVideoInterlace = 44;
    static constexpr std::size_t kVideoFrameInterval = 52;
    static constexpr std::size_t kVideoStatusByte = 74;
    static constexpr std::size_t kVideoEventBits = 24;
    static constexpr std::size_t kVideoFrameType = 16;
    static constexpr std::size_t kAudioChannel = 16;
    // Control and PTZ packets.
    static constexpr std::size_t kArg1 = 16;
    static constexpr std::size_t kArg2 = 20;
    static constexpr std::size_t kArg3 = 24;
    static constexpr std::size_t kArg4 = 28;

    std::array<uint8_t, kSize> bytes{};

    // A header of the control's own: the magic, the type and the code, every
    // other field zero.
    static DvrPacketHeader Make(uint32_t type, uint32_t code);

    uint32_t Word(std::size_t offset) const { return ReadLE32(bytes.data() + offset); }
    void SetWord(std::size_t offset, uint32_t v) { WriteLE32(bytes.data() + offset, v); }
    uint8_t Byte(std::size_t offset) const { return bytes[offset]; }
    void SetByte(std::size_t offset, uint8_t v) { bytes[offset] = v; }
    // Text zero-padded, or cut, to `width` bytes.
    void SetText(std::size_t offset, const std::string& text, std::size_t width);

    uint32_t Type() const { return Word(kType); }
    uint32_t Code() const { return Word(kCode); }

    FrameInfo ToFrameInfo() const;
};
static_assert(sizeof(DvrPacketHeader) == DvrPacketHeader::kSize, "DVR packet header is 76 bytes");

// A channel's frame rate, in hundredths of a frame per second, from the
// frame-interval code r of its video headers: frames come r + 1 sixtieths of a
// second apart, or r + 1 thirtieths when the picture is interlaced. At least 1.
int FramesPerSecondTimes100(uint32_t frameIntervalCode, bool interlaced);

DvrPacketHeader MakeLoginRequest(const std::string& id, const std::string& password, uint32_t sessionKind,
                                 uint32_t audioOption);

// The DVR's packed time of a PC time, in the PC's local time.
uint32_t PackDvrTime(std::time_t t);

// PTZ text to its code and preset; false when the text sends nothing (a
// preset whose last two characters are not digits).
struct PtzCommand {
    uint32_t code = 0;
    uint32_t preset = 0;
};
bool ParsePtzCommand(const std::string& text, PtzCommand* out);
inline constexpr uint32_t PTZ_MOVE_STOP = 15, PTZ_ZOOM_STOP = 16, PTZ_FOCUS_STOP = 17;

} // namespace vyrdax
