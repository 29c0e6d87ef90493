#include "Wire.h"

#include <algorithm>
#include <cstring>

namespace dvrsim {

PacketHeader makeHeader(std::uint32_t type, std::uint32_t word12)
{
    PacketHeader header{};
    std::copy(kPacketMagic.begin(), kPacketMagic.end(), header.begin());
    putU32(&header[8], type);
    putU32(&header[12], word12);
    return header;
}

bool hasMagic(const PacketHeader& header)
{
    return std::equal(kPacketMagic.begin(), kPacketMagic.end(), header.begin());
}

std::string fixedText(const std::uint8_t* p, std::size_t width)
{
    std::size_t n = 0;
    while (n < width && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

std::string cutTo(const std::string& text, std::size_t width)
{
    return text.size() > width ? text.substr(0, width) : text;
}

std::uint32_t packTime(const std::tm& local)
{
    const std::uint32_t year = static_cast<std::uint32_t>(local.tm_year + 1900 - 2000) & 0x3F;
    return year | std::uint32_t(local.tm_mon + 1) << 6 | std::uint32_t(local.tm_mday) << 10 |
           std::uint32_t(local.tm_hour) << 15 | std::uint32_t(local.tm_min) << 20 |
           std::uint32_t(local.tm_sec) << 26;
}

std::tm unpackTime(std::uint32_t packed)
{
    std::tm t{};
    t.tm_year = int(packed & 0x3F) + 100;
    t.tm_mon = int((packed >> 6) & 0xF) - 1;
    t.tm_mday = int((packed >> 10) & 0x1F);
    t.tm_hour = int((packed >> 15) & 0x1F);
    t.tm_min = int((packed >> 20) & 0x3F);
    t.tm_sec = int((packed >> 26) & 0x3F);
    t.tm_isdst = -1;
    return t;
}

std::tm localTimeOf(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::uint32_t packLocalTime(std::time_t t)
{
    return packTime(localTimeOf(t));
}

std::uint64_t packedTimeOrder(std::uint32_t packed)
{
    const std::uint64_t year = packed & 0x3F, month = (packed >> 6) & 0xF,
                        day = (packed >> 10) & 0x1F, hour = (packed >> 15) & 0x1F,
                        minute = (packed >> 20) & 0x3F, second = (packed >> 26) & 0x3F;
    return ((((year * 16 + month) * 32 + day) * 32 + hour) * 64 + minute) * 64 + second;
}

namespace lookup {
void scramble(std::uint8_t* payload, std::size_t length)
{
    for (std::size_t k = 0; k < length; ++k)
        payload[k] ^= static_cast<std::uint8_t>(0xFF - ((k + 1) & 0xFF));
}
}  // namespace lookup

}  // namespace dvrsim
