#pragma once
// One MPEG-4 decoder instance of the decoder library, writing planar 4:2:0
// pictures (Y, then U, then V) into a buffer that always fits the picture
// size it reports.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vyrdax {

inline constexpr int kXvidVersion = 0x00010183;
// Pictures the decoder is allowed to produce; a stream that announces more
// is not decoded.
inline constexpr int kMaxDecodeWidth = 1920;
inline constexpr int kMaxDecodeHeight = 1088;

class XvidDecoder {
public:
    XvidDecoder() = default;
    ~XvidDecoder();
    XvidDecoder(const XvidDecoder&) = delete;
    XvidDecoder& operator=(const XvidDecoder&) = delete;

    // Initialises the library for this thread and creates the decoder; false
    // when the library refuses.
    bool Create();

    struct Result {
        int consumed = 0;     // bytes taken, or negative on error
        int type = 0;         // > 0: a picture was produced; -1: stream headers
    };
    // One decode call over `length` readable bytes at `bitstream`.
    Result Decode(const uint8_t* bitstream, int length);

    // The picture size the decoder took from the stream's headers: the
    // buffer fits it. 0 before stream headers and while the stream announces
    // a size the decoder refused, so that no caller converts a picture of a
    // size the buffer was never made for.
    int Width() const { return refused_ ? 0 : width_; }
    int Height() const { return refused_ ? 0 : height_; }
    // True from stream headers announcing a size above the limits (or none)
    // until headers of a size it takes: frames in between give no picture.
    bool SizeRefused() const { return refused_; }
    // True when the buffer holds a picture of Width() x Height().
    bool HasPicture() const { return hasPicture_ && !refused_; }
    // The last picture produced: Y plane (Width x Height), then U and V.
    uint8_t* Picture() { return picture_.data(); }
    const uint8_t* Picture() const { return picture_.data(); }

private:
    void* handle_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool refused_ = false;
    bool hasPicture_ = false;
    std::vector<uint8_t> picture_;
};

} // namespace vyrdax
