#include "LookupMessage.h"

#include <cstdio>

namespace vyrdax {

void ScrambleLookupPayload(uint8_t* payload, std::size_t length)
{
    for (std::size_t k = 0; k < length; ++k)
        payload[k] ^= static_cast<uint8_t>(0xFF - ((k + 1) & 0xFF));
}

void WriteLookupHeader(const LookupHeader& h, uint8_t* out)
{
    out[0] = static_cast<uint8_t>(h.magic);
    out[1] = static_cast<uint8_t>(h.magic >> 8);
    out[2] = h.code;
    out[3] = h.error;
    out[4] = static_cast<uint8_t>(h.length);
    out[5] = static_cast<uint8_t>(h.length >> 8);
}

LookupHeader ReadLookupHeader(const uint8_t* in)
{
    LookupHeader h;
    h.magic = static_cast<uint16_t>(in[0] | in[1] << 8);
    h.code = in[2];
    h.error = in[3];
    h.length = static_cast<uint16_t>(in[4] | in[5] << 8);
    return h;
}

std::vector<uint8_t> BuildDvrAddressRequest(const std::string& id, const std::string& password)
{
    constexpr std::size_t kPayload = 17;
    std::vector<uint8_t> message(kLookupHeaderSize + kPayload, 0);
    LookupHeader h;
    h.code = LOOKUP_REQUEST_DVR_IP;
    h.length = kPayload;
    WriteLookupHeader(h, message.data());
    uint8_t* payload = message.data() + kLookupHeaderSize;
    for (std::size_t k = 0; k < 8; ++k) {
        payload[k] = k < id.size() ? static_cast<uint8_t>(id[k]) : 0;
        payload[8 + k] = k < password.size() ? static_cast<uint8_t>(password[k]) : 0;
    }
    ScrambleLookupPayload(payload, kPayload);
    return message;
}

bool ParseDvrAddressReply(const uint8_t* payload, std::size_t length, LookupAddress* out)
{
    if (length < kLookupReplyMinPayload)
        return false;
    if (length >= 8 && 8u + payload[7] > length)
        return false;
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", payload[0], payload[1], payload[2], payload[3]);
    out->address = text;
    out->port = static_cast<uint16_t>(payload[5] | payload[6] << 8);
    return true;
}

const char* LookupMessageText(uint8_t code)
{
    switch (code) {
    case 1: return "open session";
    case 2: return "close session";
    case 3: return "id registeration";
    case 4: return "request DVR IP";
    case 5: return "update DVR IP";
    case 6: return "update DVR registration info";
    case 7: return "request account info.";
    default: return "unknown message code";
    }
}

const char* LookupErrorText(uint8_t error)
{
    switch (error) {
    case 1: return "invalid password";
    case 2: return "server busy";
    case 3: return "server maintenance";
    case 4: return "invalid id";
    case 5: return "not registered dvr";
    case 6: return "not initialized account";
    case 7: return "invalid message code";
    case 8: return "invalid id";
    case 9: return "DVR IP information is not ready.";
    case 10: return "email address is not match.";
    default: return "no error";
    }
}

std::string LookupErrorReport(uint8_t code, uint8_t error)
{
    char text[256];
    std::snprintf(text, sizeof text,
                  "Error Occurred\r\nMessage Code:\t%02X [%3d] - %s\r\nError Code:\t%02X [%3d] - %s\r\n", code, code,
                  LookupMessageText(code), error, error, LookupErrorText(error));
    return text;
}

} // namespace vyrdax
