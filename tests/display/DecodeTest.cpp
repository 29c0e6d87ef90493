#include "PictureCompare.h"

#include "VideoLoops.h"
#include "control/display/CVideoPane.h"
#include "control/display/XvidDecoder.h"
#include "control/link/DvrPacket.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace vyrdax;

// A channel's frames as the link hands them on: the first one with the
// stream headers in front, and room behind each for the decoder's read-ahead.
struct Stream {
    std::vector<std::vector<uint8_t>> frames;
};

Stream Encode(int width, int height, int channel, int frames, bool interlace = false)
{
    dvrsim::LoopSettings s;
    s.width = width;
    s.height = height;
    s.loopFrames = frames;
    s.gop = frames;
    s.interlace = interlace;
    std::vector<dvrsim::EncodedFrame> encoded;
    std::string error;
    EXPECT_TRUE(dvrsim::encodeChannelLoop(s, channel, encoded, error)) << error;
    Stream out;
    for (std::size_t k = 0; k < encoded.size(); ++k) {
        std::vector<uint8_t> f;
        if (k == 0) {
            StreamHeader h = kStreamHeaderTemplate;
            PatchStreamHeader(h, static_cast<uint32_t>(width), static_cast<uint32_t>(height), interlace);
            f.assign(h.begin(), h.end());
        }
        f.insert(f.end(), encoded[k].bytes.begin(), encoded[k].bytes.end());
        out.frames.push_back(std::move(f));
    }
    return out;
}

// Decodes a frame the way the display thread does: up to three calls over
// the frame plus zeroed read-ahead; returns the bytes taken.
int DecodeFrame(XvidDecoder& decoder, const std::vector<uint8_t>& frame, bool* picture)
{
    std::vector<uint8_t> buffer(frame);
    buffer.resize(frame.size() + 1000, 0);
    int position = 0;
    *picture = false;
    for (int call = 0; call < 3 && position < static_cast<int>(frame.size()); ++call) {
        const XvidDecoder::Result r = decoder.Decode(buffer.data() + position,
                                                     static_cast<int>(buffer.size()) - position);
        if (r.consumed > 0)
            position += r.consumed;
        if (r.type > 0) {
            *picture = true;
            break;
        }
    }
    return position;
}

QImage DecodedImage(XvidDecoder& d)
{
    QImage image(d.Width(), d.Height(), QImage::Format_RGB32);
    const uint8_t* y = d.Picture();
    const uint8_t* u = y + d.Width() * d.Height();
    const uint8_t* v = u + (d.Width() / 2) * (d.Height() / 2);
    ConvertI420ToBgra(y, d.Width(), u, v, d.Width() / 2, d.Width(), d.Height(), image.bits(),
                      static_cast<int>(image.bytesPerLine()));
    return image;
}

TEST(Decode, FramesOfTheLinkDecodeToTheEncodedPictures)
{
    const int frames = 6;
    Stream stream = Encode(352, 240, 3, frames);
    XvidDecoder decoder;
    ASSERT_TRUE(decoder.Create());
    for (int k = 0; k < frames; ++k) {
        bool picture = false;
        const int taken = DecodeFrame(decoder, stream.frames[k], &picture);
        ASSERT_TRUE(picture) << k;
        // The whole frame, stream headers included, is taken.
        EXPECT_NEAR(taken, static_cast<int>(stream.frames[k].size()), 8) << k;
        dvrsim::I420Picture expected(352, 240);
        dvrsim::paintTestPicture(expected, 3, k, frames, 30.0);
        EXPECT_GT(displaytest::Psnr(DecodedImage(decoder), displaytest::ToImage(expected)), 30.0) << k;
    }
    EXPECT_EQ(decoder.Width(), 352);
    EXPECT_EQ(decoder.Height(), 240);
}

TEST(Decode, APictureSizeChangeMidStreamResizesThePicture)
{
    Stream small = Encode(352, 240, 1, 2);
    Stream large = Encode(720, 576, 1, 2);
    XvidDecoder decoder;
    ASSERT_TRUE(decoder.Create());
    bool picture = false;
    DecodeFrame(decoder, small.frames[0], &picture);
    ASSERT_TRUE(picture);
    DecodeFrame(decoder, large.frames[0], &picture);
    ASSERT_TRUE(picture);
    EXPECT_EQ(decoder.Width(), 720);
    EXPECT_EQ(decoder.Height(), 576);
    dvrsim::I420Picture expected(720, 576);
    dvrsim::paintTestPicture(expected, 1, 0, 2, 30.0);
    EXPECT_GT(displaytest::Psnr(DecodedImage(decoder), displaytest::ToImage(expected)), 30.0);
    DecodeFrame(decoder, small.frames[0], &picture);
    EXPECT_TRUE(picture);
    EXPECT_EQ(decoder.Width(), 352);
}

TEST(Decode, MalformedFramesNeverWriteOutsideThePicture)
{
    Stream stream = Encode(352, 240, 0, 4);
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round) {
        XvidDecoder decoder;
        ASSERT_TRUE(decoder.Create());
        std::vector<uint8_t> frame = stream.frames[static_cast<std::size_t>(round % 2)];
        switch (round % 4) {
        case 0: frame.resize(frame.size() / (2 + round % 5)); break; // truncated
        case 1:                                                      // bytes flipped
            for (int k = 0; k < 20; ++k)
                frame[random() % frame.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            break;
        case 2: { // stream headers announcing a picture far larger than any allowed
            StreamHeader h = kStreamHeaderTemplate;
            PatchStreamHeader(h, 4000, 4000, false);
            std::copy(h.begin(), h.end(), frame.begin());
            break;
        }
        default: // pure noise
            for (auto& b : frame)
                b = static_cast<uint8_t>(random());
        }
        bool picture = false;
        DecodeFrame(decoder, frame, &picture);
        DecodeFrame(decoder, stream.frames[1], &picture);
        if (round % 4 == 2) {
            EXPECT_FALSE(picture) << "a 4000x4000 picture has no buffer";
        }
    }
}

TEST(Decode, AfterARefusedSizeNoSizeIsReportedUntilHeadersOfASizeTakenFollow)
{
    Stream stream = Encode(352, 240, 2, 3);
    auto withHeaders = [](int width, int height, const std::vector<uint8_t>& frame) {
        StreamHeader h = kStreamHeaderTemplate;
        PatchStreamHeader(h, static_cast<uint32_t>(width), static_cast<uint32_t>(height), false);
        std::vector<uint8_t> out(h.begin(), h.end());
        out.insert(out.end(), frame.begin(), frame.end());
        return out;
    };
    for (auto [w, h] : {std::pair{4000, 480}, {352, 2528}, {2000, 600}, {1921, 240}, {352, 1089}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        XvidDecoder decoder;
        ASSERT_TRUE(decoder.Create());
        bool picture = false;
        DecodeFrame(decoder, stream.frames[0], &picture);
        ASSERT_TRUE(picture);
        ASSERT_TRUE(decoder.HasPicture());
        DecodeFrame(decoder, withHeaders(w, h, stream.frames[1]), &picture);
        EXPECT_FALSE(picture);
        EXPECT_TRUE(decoder.SizeRefused());
        // No caller can convert with the refused size, nor with the old one.
        EXPECT_EQ(decoder.Width(), 0);
        EXPECT_EQ(decoder.Height(), 0);
        EXPECT_FALSE(decoder.HasPicture());
        DecodeFrame(decoder, stream.frames[2], &picture);
        EXPECT_FALSE(picture);
        // Headers of a size it takes, with a key frame: pictures again.
        DecodeFrame(decoder, stream.frames[0], &picture);
        ASSERT_TRUE(picture);
        EXPECT_FALSE(decoder.SizeRefused());
        EXPECT_EQ(decoder.Width(), 352);
        EXPECT_EQ(decoder.Height(), 240);
        dvrsim::I420Picture expected(352, 240);
        dvrsim::paintTestPicture(expected, 2, 0, 3, 30.0);
        EXPECT_GT(displaytest::Psnr(DecodedImage(decoder), displaytest::ToImage(expected)), 30.0);
    }
    // The largest size allowed is taken, and its buffer made.
    XvidDecoder decoder;
    ASSERT_TRUE(decoder.Create());
    bool picture = false;
    DecodeFrame(decoder, withHeaders(1920, 1088, stream.frames[1]), &picture);
    EXPECT_FALSE(decoder.SizeRefused());
    EXPECT_EQ(decoder.Width(), 1920);
    EXPECT_EQ(decoder.Height(), 1088);
}

TEST(ColorConversionTest, FastPathAgreesWithTheReference)
{
    std::mt19937 random(11);
    for (auto [w, h] : {std::pair{2, 2}, {16, 8}, {352, 240}, {702, 34}}) {
        std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
        for (auto* plane : {&y, &u, &v})
            for (auto& b : *plane)
                b = static_cast<uint8_t>(random());
        std::vector<uint8_t> fast(w * h * 4), slow(w * h * 4);
        ConvertI420ToBgra(y.data(), w, u.data(), v.data(), w / 2, w, h, fast.data(), w * 4);
        ConvertI420ToBgraReference(y.data(), w, u.data(), v.data(), w / 2, w, h, slow.data(), w * 4);
        int worst = 0;
        for (std::size_t k = 0; k < fast.size(); ++k)
            worst = std::max(worst, std::abs(fast[k] - slow[k]));
        EXPECT_LE(worst, 3) << w << "x" << h;
        for (std::size_t k = 3; k < fast.size(); k += 4)
            ASSERT_EQ(fast[k], 0xFF);
    }
}

TEST(VideoPaneTest, ShowsAPictureScaledBelowTheTitleStrip)
{
    QWidget host;
    host.resize(400, 300);
    CVideoPane pane(720, 576, 752, 570, &host);
    pane.setGeometry(0, 0, 362, 254);
    EXPECT_EQ(pane.VideoRect().size(), QSize(360, 241));
    // A red picture: Y, U, V of pure red.
    const int w = 720, h = 480;
    std::vector<uint8_t> y(w * h, 81), u(w * h / 4, 90), v(w * h / 4, 240);
    pane.ShowYV12Frame(y.data(), u.data(), v.data(), w, h);
    EXPECT_EQ(pane.SnapshotWidth(), 720);
    EXPECT_EQ(pane.SnapshotHeight(), 480);
    const QImage picture = pane.PictureCopy();
    ASSERT_EQ(picture.size(), QSize(720, 480));
    const QColor c = picture.pixelColor(100, 100);
    EXPECT_GT(c.red(), 230);
    EXPECT_LT(c.green(), 30);
    host.show();
    const QImage shown = pane.grab().toImage();
    EXPECT_GT(shown.pixelColor(180, 130).red(), 230);
    EXPECT_EQ(shown.pixelColor(0, 130), CVideoPane::FromColorRef(CVideoPane::kDefaultBorder));
    // Odd sizes and missing planes are refused, not read past.
    pane.ShowYV12Frame(nullptr, u.data(), v.data(), w, h);
    pane.ShowYV12Frame(y.data(), u.data(), v.data(), -4, h);
    EXPECT_EQ(pane.PictureCopy().size(), QSize(720, 480));
}

} // namespace
