#include "DvrPacket.h"

#include <cctype>
#include <cstring>

namespace vyrdax {

DvrPacketHeader DvrPacketHeader::Make(uint32_t type, uint32_t code)
{
    DvrPacketHeader h;
    for (uint8_t k = 0; k < 8; ++k)
        h.bytes[kMagic + k] = static_cast<uint8_t>(k + 1);
    h.SetWord(kType, type);
    h.SetWord(kCode, code);
    return h;
}

void DvrPacketHeader::SetText(std::size_t offset, const std::string& text, std::size_t width)
{
    for (std::size_t k = 0; k < width; ++k)
        bytes[offset + k] = k < text.size() ? static_cast<uint8_t>(text[k]) : 0;
}

FrameInfo DvrPacketHeader::ToFrameInfo() const
{
    FrameInfo info;
    std::memcpy(info.bytes.data(), bytes.data() + kFrameInfo, FrameInfo::kSize);
    return info;
}

int FramesPerSecondTimes100(uint32_t frameIntervalCode, bool interlaced)
{
    const uint64_t fieldsApart = uint64_t{frameIntervalCode} + 1;
    const uint64_t rate = (interlaced ? 3000u : 6000u) / fieldsApart;
    return rate > 0 ? static_cast<int>(rate) : 1;
}

DvrPacketHeader MakeLoginRequest(const std::string& id, const std::string& password, uint32_t sessionKind,
                                 uint32_t audioOption)
{
    DvrPacketHeader h = DvrPacketHeader::Make(PACKET_SESSION, SESSION_LOGIN);
    h.SetText(DvrPacketHeader::kLoginId, id, 8);
    h.SetText(DvrPacketHeader::kPassword, password, 8);
    h.SetWord(DvrPacketHeader::kSessionKind, sessionKind);
    h.SetWord(DvrPacketHeader::kAudioOption, audioOption);
    return h;
}

uint32_t PackDvrTime(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    const uint32_t year = static_cast<uint32_t>(local.tm_year + 1900 - 2000) & 63;
    return year | static_cast<uint32_t>(local.tm_mon + 1) << 6 | static_cast<uint32_t>(local.tm_mday) << 10 |
           static_cast<uint32_t>(local.tm_hour) << 15 | static_cast<uint32_t>(local.tm_min) << 20 |
           static_cast<uint32_t>(local.tm_sec) << 26;
}

bool ParsePtzCommand(const std::string& text, PtzCommand* out)
{
    static const struct {
        const char* text;
        uint32_t code;
    } kCodes[] = {{"LU", 1},  {"U1", 2},  {"RU", 3},  {"L1", 4},  {"R1", 5},  {"LD", 6},  {"D1", 7},
                  {"RD", 8},  {"ZO", 9},  {"ZI", 10}, {"FN", 11}, {"FF", 12}, {"AT", 13}, {"AS", 14},
                  {"MS", 15}, {"ZS", 16}, {"FS", 17}, {"TU", 18}, {"AU", 19}, {"BP", 20}};
    *out = PtzCommand{};
    if (text.size() == 4) {
        if (!std::isdigit(static_cast<unsigned char>(text[2])) || !std::isdigit(static_cast<unsigned char>(text[3])))
            return false;
        out->preset = static_cast<uint32_t>((text[2] - '0') * 10 + (text[3] - '0'));
        const std::string head = text.substr(0, 2);
        if (head == "PS")
            out->code = 48;
        else if (head == "PC")
            out->code = 49;
        else if (head == "PG")
            out->code = 50;
        return true;
    }
    for (const auto& c : kCodes)
        if (text == c.text)
            out->code = c.code;
    return true;
}

} // namespace vyrdax
