// movdump FILE.mp4 [--quiet]: prints the file header and one line per frame,
// then checks the key-frame index beside the file. Exit status 0 when file
// and index agree, 1 when they do not, 2 when the file cannot be read.
// A backup file ("CHnn_00.mp4") has its index in "CHnn_00.m4i", years
// counted from 2000, and a file header whose checksum must hold.
#include "control/record/MovieFormat.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

using namespace vyrmovie;

namespace {

struct FrameLine {
    uint64_t offset;
    MovieFrameHeader header;
};

bool ReadAll(const std::string& path, std::vector<uint8_t>& data)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    uint8_t buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

// Backup files are named "CH" digits "_00.mp4".
bool IsBackupFile(const std::string& path)
{
    const std::string name = BaseName(path);
    const std::string tail = "_00.mp4";
    if (name.size() <= 2 + tail.size() || name.compare(0, 2, "CH") != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    for (std::size_t k = 2; k < name.size() - tail.size(); ++k)
        if (name[k] < '0' || name[k] > '9')
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path;
    bool quiet = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--quiet") == 0)
            quiet = true;
        else if (path.empty())
            path = argv[k];
    }
    if (path.empty()) {
        std::fprintf(stderr, "usage: movdump FILE.mp4 [--quiet]\n");
        return 2;
    }
    std::vector<uint8_t> data;
    if (!ReadAll(path, data)) {
        std::fprintf(stderr, "movdump: cannot read %s\n", path.c_str());
        return 2;
    }
    int problems = 0;
    auto problem = [&](const std::string& text) {
        ++problems;
        std::printf("ERROR %s\n", text.c_str());
    };
    if (data.size() < kMovieFileHeaderSize) {
        problem("file shorter than its 32-byte header");
        return 1;
    }
    std::printf("header");
    for (std::size_t k = 0; k < kMovieFileHeaderSize; ++k)
        std::printf(" %02X", data[k]);
    std::printf("\n");
    const bool backup = IsBackupFile(path);
    const std::string indexPath = backup ? path.substr(0, path.size() - 4) + ".m4i" : IndexPathFor(path);
    auto yearOf = [backup](uint8_t byte) { return backup ? 2000 + byte : RecordingYear(byte); };
    if (backup) {
        MovieFileHeader fileHeader;
        std::memcpy(fileHeader.bytes.data(), data.data(), kMovieFileHeaderSize);
        std::printf("backup saved %04d-%02u-%02u %02u:%02u:%02u crc %08X %s\n", 2000 + data[16], data[17], data[18],
                    data[19], data[20], data[21], fileHeader.StoredChecksum(),
                    fileHeader.IsAuthentic() ? "authentic" : "BAD");
        if (!fileHeader.IsAuthentic())
            problem("the backup header fails its checksum");
    }

    std::vector<FrameLine> frames;
    uint64_t at = kMovieFileHeaderSize;
    while (at < data.size()) {
        if (data.size() - at < kMovieFrameHeaderSize) {
            problem("cut frame header at offset " + std::to_string(at));
            break;
        }
        const MovieFrameHeader h = MovieFrameHeader::Decode(data.data() + at);
        if (h.marker != kFrameMarker) {
            problem("no frame marker at offset " + std::to_string(at));
            break;
        }
        if (h.Length() > kMaxFramePayload) {
            problem("frame longer than any frame at offset " + std::to_string(at));
            break;
        }
        if (data.size() - at - kMovieFrameHeaderSize < h.Length()) {
            problem("cut payload at offset " + std::to_string(at));
            break;
        }
        if (!quiet)
            std::printf("%" PRIu64 " %u %s ch %d %ux%u dvr %04d-%02u-%02u %02u:%02u:%02u time %d us %u\n", at,
                        h.Length(), h.IsKeyFrame() ? "key" : "-", h.Channel(), h.width, h.height,
                        yearOf(h.year), h.month, h.day, h.hour, h.minute, h.second, h.seconds,
                        h.microseconds);
        frames.push_back(FrameLine{at, h});
        at += kMovieFrameHeaderSize + h.Length();
    }
    if (!frames.empty() && !frames.front().header.IsKeyFrame())
        problem("the first frame is not a key frame");

    std::vector<uint8_t> index;
    std::size_t keys = 0;
    for (const FrameLine& f : frames)
        keys += f.header.IsKeyFrame();
    if (!ReadAll(indexPath, index)) {
        problem("no index file " + indexPath);
    } else {
        if (index.size() % kIndexRecordSize != 0)
            problem("index of " + std::to_string(index.size()) + " bytes is no whole number of records");
        uint32_t previous = 0;
        std::size_t matched = 0;
        for (std::size_t k = 0; k + kIndexRecordSize <= index.size(); k += kIndexRecordSize) {
            const IndexRecord r = IndexRecord::Decode(index.data() + k);
            const std::size_t number = k / kIndexRecordSize;
            std::size_t lo = 0, hi = frames.size();
            while (lo < hi) { // frames are in offset order
                const std::size_t mid = (lo + hi) / 2;
                if (frames[mid].offset < r.offset)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            if (lo == frames.size() || frames[lo].offset != r.offset) {
                problem("index record " + std::to_string(number) + " points at no frame header (offset " +
                        std::to_string(r.offset) + ")");
                continue;
            }
            const MovieFrameHeader& h = frames[lo].header;
            if (!h.IsKeyFrame())
                problem("index record " + std::to_string(number) + " points at a frame that is not a key frame");
            else if (h.seconds != r.seconds || h.microseconds != r.microseconds)
                problem("index record " + std::to_string(number) + " holds another time than its frame");
            else
                ++matched;
            if (number > 0 && r.offset <= previous)
                problem("index record " + std::to_string(number) + " is out of order");
            previous = r.offset;
        }
        if (matched != keys)
            problem(std::to_string(keys) + " key frames but " + std::to_string(matched) + " good index records");
    }
    std::printf("frames %zu key %zu index %zu %s\n", frames.size(), keys, index.size() / kIndexRecordSize,
                problems ? "INCONSISTENT" : "OK");
    return problems ? 1 : 0;
}
