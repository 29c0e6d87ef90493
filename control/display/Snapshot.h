#pragma once
// Snapshots of a pane's picture as JPEG files: the picture is packed as a
// device-independent bitmap (40-byte header, then 32-bit pixels bottom row
// first) and handed to the JPEG codec.
#include <QImage>

#include <cstdint>
#include <string>
#include <vector>

namespace vyrdax {

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint32_t BI_BITFIELDS = 3;
inline constexpr std::size_t kBitmapInfoHeaderSize = 40;

// A packed bitmap of `image` (header, then pixels as the image's depth has
// them, rows bottom first and padded to 4 bytes); empty when the compression
// is refused or the image is empty.
std::vector<uint8_t> BitmapToDIB(const QImage& image, uint32_t compression);

// Writes the packed 32-bit bitmap as a baseline JPEG file at quality 100;
// 1 when the file was written, 0 otherwise (a partial file is removed).
int SaveDIBAsJpeg(const std::string& path, const std::vector<uint8_t>& dib);

} // namespace vyrdax
