#pragma once
// Messages of the address lookup service: a 6-byte header and a scrambled
// payload.
#include <cstdint>
#include <string>
#include <vector>

namespace vyrdax {

inline constexpr uint16_t kLookupMagic = 0x6AF1;
inline constexpr std::size_t kLookupHeaderSize = 6;
inline constexpr uint16_t kDefaultLookupPort = 61991;
inline constexpr uint8_t LOOKUP_REQUEST_DVR_IP = 4;
// The reply buffer holds the header, the payload and a zero byte behind it.
inline constexpr std::size_t kLookupBufferSize = 4096;
inline constexpr std::size_t kLookupMaxPayload = kLookupBufferSize - kLookupHeaderSize - 1;
// Address (4), unused (1), port (2): the least a code-4 reply must carry.
inline constexpr std::size_t kLookupReplyMinPayload = 7;

enum LookupError : uint8_t {
    LOOKUP_OK = 0,
    LOOKUP_BAD_PASSWORD = 1,
    LOOKUP_BUSY = 2,
    LOOKUP_NO_ID = 8,
    LOOKUP_NOT_READY = 9,
};

struct LookupHeader {
    uint16_t magic = kLookupMagic;
    uint8_t code = 0;
    uint8_t error = 0;
    uint16_t length = 0;
};

// Scrambles or unscrambles in place: byte k is XORed with 0xFF - (k + 1).
void ScrambleLookupPayload(uint8_t* payload, std::size_t length);

void WriteLookupHeader(const LookupHeader& h, uint8_t* out);
LookupHeader ReadLookupHeader(const uint8_t* in);

// The whole "request DVR IP" message, scrambled, ready to send.
std::vector<uint8_t> BuildDvrAddressRequest(const std::string& id, const std::string& password);

struct LookupAddress {
    std::string address; // dotted text
    uint16_t port = 0;
};
// From an unscrambled code-4 reply payload; false when it is too short or
// its name does not fit.
bool ParseDvrAddressReply(const uint8_t* payload, std::size_t length, LookupAddress* out);

const char* LookupMessageText(uint8_t code);
const char* LookupErrorText(uint8_t error);
// The text of the error report box for a refused message.
std::string LookupErrorReport(uint8_t code, uint8_t error);

} // namespace vyrdax
