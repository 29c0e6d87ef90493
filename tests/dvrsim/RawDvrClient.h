// A minimal DVR client for the tests, written from the protocol's byte
// layouts with literal offsets (and none of the simulator's code), so that a
// layout mistake on either side shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct RawHeader {
    std::uint8_t bytes[76] = {};
    std::uint32_t word(std::size_t offset) const
    {
        return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 |
               std::uint32_t(bytes[offset + 2]) << 16 | std::uint32_t(bytes[offset + 3]) << 24;
    }
    std::uint32_t type() const { return word(8); }
    std::uint32_t code() const { return word(12); }  // also a video or audio payload length
};

class RawDvrClient {
public:
    RawDvrClient() = default;
    ~RawDvrClient();
    RawDvrClient(const RawDvrClient&) = delete;
    RawDvrClient& operator=(const RawDvrClient&) = delete;

    bool connectTo(int port);
    void close();

    // A header with the magic, the type at +8, `word12` at +12 and the given
    // 32-bit fields; every other byte zero.
    static std::vector<std::uint8_t> header(std::uint32_t type, std::uint32_t word12,
                                            const std::vector<std::pair<std::size_t, std::uint32_t>>& fields = {});
    bool sendBytes(const std::vector<std::uint8_t>& bytes);

    bool login(const std::string& id, const std::string& password, std::uint32_t sessionKind, RawHeader& reply);
    bool setMask(std::uint32_t mask);
    bool command(std::uint32_t command, std::uint32_t at16, std::uint32_t at20, std::uint32_t at24 = 0,
                 std::uint32_t at28 = 0);

    bool readHeader(RawHeader& header, int timeoutMs);
    bool readBytes(std::vector<std::uint8_t>& out, std::size_t length, int timeoutMs);
    // The next video packet with its payload; keep-alive replies (type 5,
    // code 1) are skipped, any other packet fails.
    bool readVideo(RawHeader& header, std::vector<std::uint8_t>& payload, int timeoutMs);
    // True when the peer closes within the time, with no more than
    // `maxBytes` arriving before.
    bool waitClosed(int timeoutMs, std::size_t maxBytes = 1u << 30);
    // Reads to the end of the connection: 0 for an orderly close, the error
    // (ECONNRESET for a reset) for a broken one, -1 when it did not end.
    int endOfLink(int timeoutMs);
    // True when nothing arrives within the time.
    bool quietFor(int timeoutMs);

private:
    int fd_ = -1;
};

// DVR packed time of a local time.
std::uint32_t packedLocalTime(long timeValue);

// The 30-byte stream header a client puts in front of a channel's first
// frame, patched for the picture size and interlace flag.
std::vector<std::uint8_t> streamHeaderFor(int width, int height, bool interlace);
