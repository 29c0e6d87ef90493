#include "RecordedStream.h"

#include "control/display/XvidDecoder.h"

#include <cstring>
#include <vector>

namespace vyrmovie {

namespace {

constexpr int kDecodeCalls = 16;
// A key frame decoded with the form it was coded in ends within its last
// byte or two (stuffing); the other form stops hundreds of bytes early or
// reads past the end.
constexpr int kCleanEndSlack = 2;

vyrdax::StreamHeader PatchedHeader(const MovieFrameHeader& header, bool interlaced)
{
    vyrdax::StreamHeader stream = vyrdax::kStreamHeaderTemplate;
    vyrdax::PatchStreamHeader(stream, header.width, header.height, interlaced);
    return stream;
}

// Whether the key frame decodes into a picture that ends where its payload
// ends, behind the given form of the stream header.
bool DecodesCleanly(const MovieFrameHeader& header, const uint8_t* payload, uint32_t length, bool interlaced)
{
    vyrdax::XvidDecoder decoder;
    if (!decoder.Create())
        return false;
    const vyrdax::StreamHeader stream = PatchedHeader(header, interlaced);
    std::vector<uint8_t> input(stream.size() + length + kFramePadding, 0);
    std::memcpy(input.data(), stream.data(), stream.size());
    std::memcpy(input.data() + stream.size(), payload, length);
    const int total = static_cast<int>(stream.size() + length);
    int at = 0;
    for (int call = 0; call < kDecodeCalls && at < total; ++call) {
        const vyrdax::XvidDecoder::Result r = decoder.Decode(input.data() + at, total - at);
        if (r.consumed <= 0)
            return false;
        at += r.consumed;
        if (r.type > 0) {
            const int left = total - at;
            return left >= 0 && left <= kCleanEndSlack;
        }
    }
    return false;
}

} // namespace

bool RecordedStreamIsInterlaced(const MovieFrameHeader& header, const uint8_t* payload, uint32_t length)
{
    const bool named = header.Interlaced();
    if (!header.IsKeyFrame() || !payload || length == 0 || length > kMaxFramePayload || header.width == 0 ||
        header.height == 0 || header.width > kMaxPictureWidth || header.height > kMaxPictureHeight)
        return named;
    if (DecodesCleanly(header, payload, length, named))
        return named;
    if (DecodesCleanly(header, payload, length, !named))
        return !named;
    return named;
}

vyrdax::StreamHeader RecordedStreamHeader(const MovieFrameHeader& header, const uint8_t* payload, uint32_t length)
{
    return PatchedHeader(header, RecordedStreamIsInterlaced(header, payload, length));
}

} // namespace vyrmovie
