#include "VideoLoops.h"

#include "TestPicture.h"

#include <xvid.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

namespace dvrsim {

namespace {

constexpr std::uint8_t kVopStartCode[4] = {0x00, 0x00, 0x01, 0xB6};
// The receiver's stream header counts time in units of 1/30000 s, so plane
// headers must carry 15-bit time increments.
constexpr int kTimeBase = 30000;

// The encoder reduces increment/base by their common factor, which would
// shorten the increment field; an increment prime to 30000 (odd, not a
// multiple of 3 or 5) keeps the base whole, e.g. 1001 for 29.97 frames/s.
int frameIncrementPrimeToBase(double fps)
{
    const int wanted = std::max(1, static_cast<int>(std::lround(kTimeBase / fps)));
    auto prime = [](int n) { return n % 2 != 0 && n % 3 != 0 && n % 5 != 0; };
    for (int d = 0; d < 8; ++d) {
        if (prime(wanted + d))
            return wanted + d;
        if (wanted - d > 0 && prime(wanted - d))
            return wanted - d;
    }
    return 1;
}

void initialiseXvidOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xvid_gbl_init_t init{};
        init.version = XVID_VERSION;
        xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    });
}

// Keeps the frame from its plane start code on: the encoder puts sequence,
// object and layer headers in front of its first frame.
bool keepVideoObjectPlane(const std::uint8_t* data, int length, std::vector<std::uint8_t>& out)
{
    for (int i = 0; i + 4 <= length; ++i) {
        if (std::equal(kVopStartCode, kVopStartCode + 4, data + i)) {
            out.assign(data + i, data + length);
            return true;
        }
    }
    return false;
}

class Encoder {
public:
    Encoder(const LoopSettings& s, int quant) : settings_(s), quant_(quant)
    {
        initialiseXvidOnce();
        xvid_enc_create_t create{};
        create.version = XVID_VERSION;
        create.width = s.width;
        create.height = s.height;
        create.fbase = kTimeBase;
        create.fincr = frameIncrementPrimeToBase(s.fps);
        create.max_key_interval = s.gop;
        create.max_bframes = 0;
        create.num_threads = 1;
        for (int i = 0; i < 3; ++i) {
            create.min_quant[i] = 2;
            create.max_quant[i] = 31;
        }
        if (xvid_encore(nullptr, XVID_ENC_CREATE, &create, nullptr) >= 0)
            handle_ = create.handle;
    }
    ~Encoder()
    {
        if (handle_)
            xvid_encore(handle_, XVID_ENC_DESTROY, nullptr, nullptr);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    bool ok() const { return handle_ != nullptr; }

    int encode(I420Picture& picture, bool key, std::vector<std::uint8_t>& out)
    {
        xvid_enc_frame_t frame{};
        frame.version = XVID_VERSION;
        frame.vol_flags = XVID_VOL_MPEGQUANT | (settings_.interlace ? XVID_VOL_INTERLACING : 0);
        frame.vop_flags = XVID_VOP_HALFPEL | XVID_VOP_INTER4V;
        frame.motion = XVID_ME_ADVANCEDDIAMOND16 | XVID_ME_HALFPELREFINE16;
        frame.input.csp = XVID_CSP_I420;
        frame.input.plane[0] = picture.y();
        frame.input.plane[1] = picture.u();
        frame.input.plane[2] = picture.v();
        frame.input.stride[0] = picture.width;
        frame.input.stride[1] = picture.width / 2;
        frame.input.stride[2] = picture.width / 2;
        frame.type = key ? XVID_TYPE_IVOP : XVID_TYPE_PVOP;
        frame.quant = quant_;
        out.resize(static_cast<std::size_t>(picture.width * picture.height * 2 + 4096));
        frame.bitstream = out.data();
        frame.length = static_cast<int>(out.size());
        xvid_enc_stats_t stats{};
        stats.version = XVID_VERSION;
        const int produced = xvid_encore(handle_, XVID_ENC_ENCODE, &frame, &stats);
        if (produced > 0 && stats.type != (key ? XVID_TYPE_IVOP : XVID_TYPE_PVOP))
            return -1;  // the group structure must hold exactly
        return produced;
    }

    // Drains the encoder; it answers XVID_ERR_END once nothing is left.
    void flush()
    {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(settings_.width * settings_.height * 2));
        for (int i = 0; i < 4; ++i) {
            xvid_enc_frame_t frame{};
            frame.version = XVID_VERSION;
            frame.input.csp = XVID_CSP_NULL;
            frame.bitstream = out.data();
            frame.length = static_cast<int>(out.size());
            if (xvid_encore(handle_, XVID_ENC_ENCODE, &frame, nullptr) == XVID_ERR_END)
                break;
        }
    }

private:
    LoopSettings settings_;
    int quant_;
    void* handle_ = nullptr;
};

bool encodeWithQuant(const LoopSettings& s, int channel, int quant, std::vector<EncodedFrame>& frames,
                     bool& tooLarge, std::string& error)
{
    tooLarge = false;
    Encoder encoder(s, quant);
    if (!encoder.ok()) {
        error = "MPEG-4 encoder could not be created";
        return false;
    }
    I420Picture picture(s.width, s.height);
    std::vector<std::uint8_t> out;
    frames.clear();
    frames.reserve(static_cast<std::size_t>(s.loopFrames));
    for (int i = 0; i < s.loopFrames; ++i) {
        paintTestPicture(picture, channel, i, s.loopFrames, s.fps);
        const bool key = i % s.gop == 0;
        const int produced = encoder.encode(picture, key, out);
        EncodedFrame frame;
        frame.key = key;
        if (produced <= 0 || !keepVideoObjectPlane(out.data(), produced, frame.bytes)) {
            error = "MPEG-4 encoder gave no frame " + std::to_string(i) + " for channel " +
                    std::to_string(channel);
            return false;
        }
        if (frame.bytes.size() > kLargestEncodedFrame) {
            tooLarge = true;
            return false;
        }
        frames.push_back(std::move(frame));
    }
    encoder.flush();
    return true;
}

}  // namespace

bool encodeChannelLoop(const LoopSettings& s, int channel, std::vector<EncodedFrame>& frames,
                       std::string& error)
{
    for (int quant = s.quant; quant <= 31; quant += 4) {
        bool tooLarge = false;
        if (encodeWithQuant(s, channel, quant, frames, tooLarge, error))
            return true;
        if (!tooLarge)
            return false;
    }
    error = "frames stay too large at every quantiser";
    return false;
}

bool VideoLoops::build(const LoopSettings& settings, int channels, int threads, std::string& error)
{
    settings_ = settings;
    loops_.assign(static_cast<std::size_t>(channels), {});
    if (threads <= 0)
        threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, channels);

    std::atomic<int> next{0};
    std::mutex errorLock;
    std::string firstError;
    auto work = [&] {
        for (int c = next++; c < channels; c = next++) {
            std::string e;
            if (!encodeChannelLoop(settings_, c, loops_[static_cast<std::size_t>(c)], e)) {
                std::lock_guard<std::mutex> lock(errorLock);
                if (firstError.empty())
                    firstError = e;
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back(work);
    for (std::thread& t : pool)
        t.join();
    error = firstError;
    return firstError.empty();
}

}  // namespace dvrsim
