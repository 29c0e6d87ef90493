#include "PlayerFolderWriter.h"

#include "RecordTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>

namespace playertest {

void Put16(std::vector<uint8_t>& b, std::size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + static_cast<std::size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
}

uint32_t Get32(const std::vector<uint8_t>& b, std::size_t at)
{
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<std::size_t> FrameOffsets(const std::vector<uint8_t>& movie)
{
    std::vector<std::size_t> offsets;
    for (std::size_t at = 32; at + 32 <= movie.size();) {
        offsets.push_back(at);
        at += 32 + (Get32(movie, at + 4) & 0xFFFFF);
    }
    return offsets;
}

namespace {

std::vector<uint8_t> FrameHeader(const ChannelFiles& files, std::size_t length, bool key, int32_t seconds,
                                 uint32_t micro)
{
    std::vector<uint8_t> h(32, 0);
    Put16(h, 0, 0xFFFF);
    Put32(h, 4, static_cast<uint32_t>(length) | (key ? 0u : 1u << 21) | static_cast<uint32_t>(files.slot % 16) << 24);
    Put16(h, 8, static_cast<uint32_t>(files.width));
    Put16(h, 10, static_cast<uint32_t>(files.height));
    h[12] = 26; // 2026, stored as year - 2000
    h[13] = 12;
    h[14] = 31;
    h[15] = 10;
    h[16] = static_cast<uint8_t>((seconds / 60) % 60);
    h[17] = static_cast<uint8_t>(seconds % 60);
    Put32(h, 20, micro);
    Put32(h, 24, static_cast<uint32_t>(seconds));
    Put16(h, 30, static_cast<uint32_t>(files.slot));
    return h;
}

} // namespace

double PacedPlayLowerBound(double recordedSeconds, uint64_t anchors, int fps)
{
    constexpr double kMarginSeconds = 0.3;
    const double early = anchors > 1 ? static_cast<double>(anchors - 1) / fps : 0.0;
    return recordedSeconds - early - kMarginSeconds;
}

uint64_t PacedPlayBlanksAllowed(uint64_t anchors)
{
    return 2 + (anchors > 1 ? anchors - 1 : 0);
}

uint32_t ReferenceCrc32(const uint8_t* data, std::size_t length)
{
    uint32_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0u);
    }
    return crc;
}

std::vector<std::vector<uint8_t>> WriteChannel(const std::string& folder, const ChannelFiles& files)
{
    const auto& encoded = recordtest::EncodedFrames(files.width, files.height, files.frames, files.gop);
    std::vector<uint8_t> movie(32, 0), index;
    std::vector<std::vector<uint8_t>> payloads;
    for (int k = 0; k < files.frames; ++k) {
        const auto& f = encoded[static_cast<std::size_t>(k)];
        const int64_t micros = static_cast<int64_t>(k) * 1000000 / files.fps;
        const int32_t seconds = files.startSeconds + static_cast<int32_t>(micros / 1000000) +
                                (files.gapFromFrame >= 0 && k >= files.gapFromFrame ? files.gapSeconds : 0);
        const uint32_t micro = static_cast<uint32_t>(micros % 1000000);
        if (f.key) {
            std::vector<uint8_t> record(12, 0);
            Put32(record, 0, static_cast<uint32_t>(seconds));
            Put32(record, 4, micro);
            Put32(record, 8, static_cast<uint32_t>(movie.size()));
            index.insert(index.end(), record.begin(), record.end());
        }
        const auto header = FrameHeader(files, f.bytes.size(), f.key, seconds, micro);
        if (k == 0) {
            // The file header: the first frame header with the save time.
            std::copy(header.begin(), header.end(), movie.begin());
            movie[16] = 26;
            movie[17] = 12;
            movie[18] = 31;
            movie[19] = 11;
            movie[20] = 22;
            movie[21] = 33;
            Put32(movie, 28, ReferenceCrc32(movie.data(), 24) ^ (files.badChecksum ? 1u : 0u));
        }
        movie.insert(movie.end(), header.begin(), header.end());
        movie.insert(movie.end(), f.bytes.begin(), f.bytes.end());
        payloads.push_back(f.bytes);
    }
    char name[32];
    std::snprintf(name, sizeof name, "/CH0%d_00.mp4", files.slot);
    WriteBytes(folder + name, movie);
    std::snprintf(name, sizeof name, "/CH0%d_00.m4i", files.slot);
    WriteBytes(folder + name, index);
    return payloads;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    // A write that straddles a second boundary would otherwise read as a copy.
#ifdef STATX_BTIME
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = sx.stx_btime.tv_sec;
        times[1].tv_nsec = sx.stx_btime.tv_nsec;
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
#endif
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void RefuseFrame(const std::string& moviePath, int frame)
{
    auto bytes = ReadBytes(moviePath);
    const std::size_t at = FrameOffsets(bytes)[static_cast<std::size_t>(frame)];
    Put32(bytes, at + 4, Get32(bytes, at + 4) | 0xFFFFFu);
    WriteBytes(moviePath, bytes);
}

void CutMovieEnd(const std::string& moviePath, std::size_t bytes)
{
    auto movie = ReadBytes(moviePath);
    movie.resize(movie.size() - std::min(bytes, movie.size()));
    WriteBytes(moviePath, movie);
}

void ShiftModificationTime(const std::string& path, int secondsAfterBirth)
{
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = std::time(nullptr) + secondsAfterBirth;
    times[1].tv_nsec = 0;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool KeepsBirthTime(const std::string& path)
{
#ifdef STATX_BTIME
    struct statx sx {};
    return ::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME);
#else
    (void)path;
    return false;
#endif
}

} // namespace playertest
