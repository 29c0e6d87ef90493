// Byte layouts of the DVR link and the lookup service, as the simulated DVR
// sees them. Every multi-byte field is little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

namespace dvrsim {

constexpr std::size_t kPacketHeaderSize = 76;
constexpr std::size_t kFrameInfoSize = 64;  // bytes 12..75 of a video header
constexpr std::size_t kEventRecordSize = 24;
constexpr std::size_t kSetupRecordSmallSize = 12044;
constexpr std::size_t kSetupRecordLargeSize = 23736;
constexpr std::size_t kMonthTableSize = 128;
constexpr std::size_t kDayTimeListSize = 3076;
constexpr std::size_t kMaxMediaPayload = 131072;
constexpr std::uint32_t kMaxEventCount = 65536;
constexpr int kMaxChannels = 64;
constexpr int kMaskableChannels = 32;  // the channel mask is one 32-bit word
constexpr int kDayTimeListSlots = 48;

static_assert(kPacketHeaderSize == 12 + kFrameInfoSize, "frame info is the header's tail");
static_assert(kMonthTableSize == 32 * 4, "32 words");
static_assert(kDayTimeListSize == 4 + kMaxChannels * kDayTimeListSlots, "word + 64 rows of 48 slots");

constexpr std::array<std::uint8_t, 8> kPacketMagic = {1, 2, 3, 4, 5, 6, 7, 8};

enum PacketType : std::uint32_t {
    kPacketSession = 1,
    kPacketVideo = 2,
    kPacketAudio = 3,
    kPacketPtz = 4,
    kPacketControl = 5,
};

// Codes at +12 of session packets.
constexpr std::uint32_t kSessionLogin = 1;
constexpr std::uint32_t kSessionLogout = 2;
constexpr std::uint32_t kLoginAccepted = 0x1001;
constexpr std::uint32_t kLoginRefused = 0x1002;
constexpr std::uint32_t kSessionKindRemote = 323;  // event-log and remote-search sessions

// Codes at +12 of control packets.
constexpr std::uint32_t kControlChannelMask = 0;   // client -> DVR
constexpr std::uint32_t kReplyKeepAlive = 1;       // DVR -> client, nothing follows
constexpr std::uint32_t kReplySetupRecord = 0x12;
constexpr std::uint32_t kReplyEventList = 0x20;
constexpr std::uint32_t kReplySearch = 0x21;

// Command numbers the DVR acts on; every other number is only logged.
constexpr std::uint32_t kCmdPlayFrameByFrame = 6;
constexpr std::uint32_t kCmdFastForward = 8;
constexpr std::uint32_t kCmdRewind = 9;
constexpr std::uint32_t kCmdPause = 10;
constexpr std::uint32_t kCmdStop = 11;
constexpr std::uint32_t kCmdPlay = 12;
constexpr std::uint32_t kCmdPlaybackFromTime = 14;
constexpr std::uint32_t kCmdSetupRequest = 18;
constexpr std::uint32_t kCmdSetupUpload = 19;
constexpr std::uint32_t kCmdEventLog = 32;
constexpr std::uint32_t kCmdSearch = 33;

// Video header: offsets in the 76-byte packet header.
namespace video {
constexpr std::size_t kLength = 12;
constexpr std::size_t kFrameType = 16;
constexpr std::size_t kStreamWord = 20;
constexpr std::size_t kEventBits = 24;
constexpr std::size_t kTitleForm = 28;
constexpr std::size_t kChannel = 32;
constexpr std::size_t kWidth = 36;
constexpr std::size_t kHeight = 40;
constexpr std::size_t kInterlace = 44;
constexpr std::size_t kFirstStreamByte = 48;
constexpr std::size_t kFrameInterval = 52;
constexpr std::size_t kYear = 56;  // then month, day, hour as single bytes
constexpr std::size_t kStreamSeconds = 60;
constexpr std::size_t kStreamMicroseconds = 64;
constexpr std::size_t kTitleTime = 68;
constexpr std::size_t kMinute = 72;
constexpr std::size_t kSecond = 73;
constexpr std::size_t kStatusByte = 74;
constexpr std::uint32_t kTitleTimeFromStamp = 0x1124;  // title shows the byte fields
constexpr std::uint8_t kStatusPlayback = 0xFF;
}  // namespace video

using PacketHeader = std::array<std::uint8_t, kPacketHeaderSize>;
static_assert(sizeof(PacketHeader) == 76, "DVR packet header is 76 bytes");

inline void putU32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t getU32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void putU16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint16_t getU16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// A header with the magic and the type set and every other field zero.
PacketHeader makeHeader(std::uint32_t type, std::uint32_t word12);
bool hasMagic(const PacketHeader& header);

// Text fields of the login are 8 bytes, zero-padded, longer texts cut.
std::string fixedText(const std::uint8_t* p, std::size_t width);
std::string cutTo(const std::string& text, std::size_t width);

// DVR packed time: year-2000 in bits 0-5, month 6-9, day 10-14, hour 15-19,
// minute 20-25, second 26-31, in the DVR's local time.
std::uint32_t packTime(const std::tm& local);
std::tm unpackTime(std::uint32_t packed);
std::uint32_t packLocalTime(std::time_t t);
// Orders packed times chronologically (the bit order of the word does not).
std::uint64_t packedTimeOrder(std::uint32_t packed);

std::tm localTimeOf(std::time_t t);

// Lookup service messages.
namespace lookup {
constexpr std::uint16_t kMagic = 0x6AF1;
constexpr std::size_t kHeaderSize = 6;
constexpr std::uint8_t kRequestDvrAddress = 4;
constexpr std::size_t kRequestPayloadSize = 17;
constexpr std::uint8_t kErrorNone = 0;
constexpr std::uint8_t kErrorBadPassword = 1;
constexpr std::uint8_t kErrorBusy = 2;
constexpr std::uint8_t kErrorInvalidMessage = 7;
constexpr std::uint8_t kErrorNoId = 8;
constexpr std::uint8_t kErrorNotReady = 9;
constexpr std::size_t kMaxPayload = 4089;

// The same XOR scrambles and unscrambles: byte k with 0xFF - ((k + 1) mod 256).
void scramble(std::uint8_t* payload, std::size_t length);
}  // namespace lookup

}  // namespace dvrsim
