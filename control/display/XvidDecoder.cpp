#include "XvidDecoder.h"

#include <xvid.h>

#include <cstring>

namespace vyrdax {

XvidDecoder::~XvidDecoder()
{
    if (handle_)
        xvid_decore(handle_, XVID_DEC_DESTROY, nullptr, nullptr);
}

bool XvidDecoder::Create()
{
    xvid_gbl_init_t init;
    std::memset(&init, 0, sizeof init);
    init.version = kXvidVersion;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);

    xvid_dec_create_t create;
    std::memset(&create, 0, sizeof create);
    create.version = kXvidVersion;
    if (xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr) < 0 || !create.handle)
        return false;
    handle_ = create.handle;
    return true;
}

XvidDecoder::Result XvidDecoder::Decode(const uint8_t* bitstream, int length)
{
    Result result;
    if (!handle_)
        return result;
    xvid_dec_frame_t frame;
    std::memset(&frame, 0, sizeof frame);
    frame.version = kXvidVersion;
    frame.general = XVID_LOWDELAY;
    frame.bitstream = const_cast<uint8_t*>(bitstream);
    frame.length = length;
    // Pictures go only into a buffer sized for the stream's own headers:
    // before they are known, or while they announce more than is allowed,
    // nothing is written out.
    const bool known = width_ > 0 && height_ > 0 && !refused_;
    if (known) {
        frame.output.csp = XVID_CSP_I420;
        frame.output.plane[0] = picture_.data();
        frame.output.stride[0] = width_;
    } else {
        frame.output.csp = XVID_CSP_NULL;
    }
    xvid_dec_stats_t stats;
    std::memset(&stats, 0, sizeof stats);
    stats.version = kXvidVersion;
    result.consumed = xvid_decore(handle_, XVID_DEC_DECODE, &frame, &stats);
    result.type = stats.type;
    if (stats.type == XVID_TYPE_VOL) {
        // The library stops after stream headers, so the buffer is resized
        // before any picture of the new size is written. A size refused
        // leaves the last size taken and its buffer as they were.
        const int width = stats.data.vol.width;
        const int height = stats.data.vol.height;
        refused_ = width <= 0 || height <= 0 || width > kMaxDecodeWidth || height > kMaxDecodeHeight;
        if (!refused_) {
            if (width != width_ || height != height_)
                hasPicture_ = false;
            width_ = width;
            height_ = height;
            const std::size_t luma = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
            const std::size_t needed = luma + 2 * (luma / 4) + static_cast<std::size_t>(width_);
            if (picture_.size() < needed)
                picture_.resize(needed);
        }
    } else if (result.type > 0) {
        if (known)
            hasPicture_ = true;
        else
            result.type = 0; // decoded, but not into our buffer
    }
    return result;
}

} // namespace vyrdax
