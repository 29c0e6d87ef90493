#include "Snapshot.h"

#include "JpegCodec.h"
#include "control/ByteOrder.h"
#include "platform/MessageBox.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vyrdax {


std::vector<uint8_t> BitmapToDIB(const QImage& image, uint32_t compression)
{
    if (compression == BI_BITFIELDS || image.isNull())
        return {};
    const int bitCount = image.depth();
    const int width = image.width(), height = image.height();
    const std::size_t stride = static_cast<std::size_t>((width * bitCount + 31) / 32 * 4);
    const std::size_t colours = bitCount <= 8 ? (std::size_t{1} << bitCount) : 0;
    const std::size_t pixelsAt = kBitmapInfoHeaderSize + colours * 4;
    std::vector<uint8_t> dib(pixelsAt + stride * static_cast<std::size_t>(height), 0);
    uint8_t* h = dib.data();
    WriteLE32(h + 0, kBitmapInfoHeaderSize);
    WriteLE32(h + 4, static_cast<uint32_t>(width));
    WriteLE32(h + 8, static_cast<uint32_t>(height)); // positive: bottom row first
    WriteLE16(h + 12, 1);
    WriteLE16(h + 14, static_cast<uint16_t>(bitCount));
    WriteLE32(h + 16, compression);
    const std::size_t rowBytes = std::min<std::size_t>(stride, static_cast<std::size_t>(image.bytesPerLine()));
    for (int row = 0; row < height; ++row)
        std::memcpy(dib.data() + pixelsAt + static_cast<std::size_t>(height - 1 - row) * stride,
                    image.constScanLine(row), rowBytes);
    return dib;
}

int SaveDIBAsJpeg(const std::string& path, const std::vector<uint8_t>& dib)
{
    if (dib.size() < kBitmapInfoHeaderSize)
        return 0;
    JpegCoreProperties record;
    std::memset(&record, 0, sizeof record);
    bool ok = JpegInit(&record) == JPEG_SUCCESS;

    const uint32_t headerSize = ReadLE32(dib.data());
    const int32_t width = static_cast<int32_t>(ReadLE32(dib.data() + 4));
    const int32_t height = static_cast<int32_t>(ReadLE32(dib.data() + 8));
    const uint16_t bitCount = ReadLE16(dib.data() + 14);
    std::vector<uint8_t> pixels;
    if (bitCount != 32) {
        char text[64];
        std::snprintf(text, sizeof text, "ERROR:bitcount=%d", bitCount);
        platform::MessageBox(nullptr, text);
        ok = false;
    } else if (width <= 0 || height <= 0 || headerSize < kBitmapInfoHeaderSize ||
               dib.size() < headerSize + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
        ok = false;
    } else {
        // Rows stay bottom first; each pixel becomes red, green, blue, unused.
        const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        pixels.resize(count * 4);
        const uint8_t* from = dib.data() + headerSize;
        for (std::size_t k = 0; k < count; ++k) {
            pixels[4 * k + 0] = from[4 * k + 2];
            pixels[4 * k + 1] = from[4 * k + 1];
            pixels[4 * k + 2] = from[4 * k + 0];
            pixels[4 * k + 3] = from[4 * k + 3];
        }
    }
    bool attempted = false;
    if (ok) {
        attempted = true;
        record.image_bytes = pixels.data();
        record.image_width = static_cast<uint32_t>(width);
        record.image_height = -height;
        record.image_pad_bytes = 0;
        record.image_channels = 4;
        record.image_color = COLOR_RGB;
        record.jpeg_file = path.c_str();
        record.jpeg_width = static_cast<uint32_t>(width);
        record.jpeg_height = static_cast<uint32_t>(height);
        record.jpeg_channels = 3;
        record.jpeg_color = COLOR_YCBCR;
        record.jpeg_subsampling = SUBSAMPLING_420;
        record.quality = 100;
        if (JpegWrite(&record, WRITE_IMAGE_TO_FILE) != JPEG_SUCCESS) {
            platform::MessageBox(nullptr, "ERROR!!!!");
            ok = false;
        }
    }
    if (JpegFree(&record) != JPEG_SUCCESS)
        ok = false; // the file may not have been closed whole
    if (!ok && attempted)
        unlink(path.c_str()); // no half-written snapshot is left behind
    return ok ? 1 : 0;
}

} // namespace vyrdax
