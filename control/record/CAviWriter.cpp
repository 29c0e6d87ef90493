#include "CAviWriter.h"

#include "control/record/MovieFormat.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace vyrdax {

namespace {

constexpr char kJunkText[] = "This Movie File was made by VEK in Brightfen...";
constexpr uint32_t kHdrlListSize = 4588;
constexpr uint32_t kStrlListSize = 4244;
constexpr uint32_t kStreamJunkSize = 4120;
constexpr uint32_t kOdmlListSize = 260;
constexpr uint32_t kDmlhSize = 248;
constexpr uint32_t kTailJunkSize = 1528;
constexpr uint32_t kIdx1Head = 8;

// The final index copy of every writer goes through one buffer, one at a time.
std::mutex& IndexCopyLock()
{
    static std::mutex lock;
    return lock;
}

class HeaderBuilder {
public:
    explicit HeaderBuilder(uint8_t* out) : out_(out) {}
    void Tag(const char* fourcc) { std::memcpy(out_ + at_, fourcc, 4), at_ += 4; }
    void U32(uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            out_[at_++] = static_cast<uint8_t>(v >> (8 * k));
    }
    void U16(uint16_t v)
    {
        out_[at_++] = static_cast<uint8_t>(v);
        out_[at_++] = static_cast<uint8_t>(v >> 8);
    }
    // `size` bytes: the text with its terminating zero, then zeros.
    void Junk(uint32_t size)
    {
        std::memcpy(out_ + at_, kJunkText, sizeof kJunkText);
        at_ += size;
    }
    void Skip(uint32_t size) { at_ += size; }
    std::size_t At() const { return at_; }

private:
    uint8_t* out_;
    std::size_t at_ = 0;
};

bool WriteAll(std::FILE* file, const void* data, std::size_t size)
{
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

// Renames `from` to `to` only when no file is called `to` (errno EEXIST).
bool RenameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the flag: a hard link fails on a taken name too.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

void PutLE32(uint8_t* p, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        p[k] = static_cast<uint8_t>(v >> (8 * k));
}

} // namespace

CAviWriter::~CAviWriter()
{
    Abandon();
}

std::array<uint8_t, CAviWriter::kHeaderSize + CAviWriter::kMoviListHead>
CAviWriter::Header(uint32_t frameCount, uint32_t width, uint32_t height, uint32_t microsecondsPerFrame,
                   uint32_t movieDataSize)
{
    std::array<uint8_t, kHeaderSize + kMoviListHead> bytes{};
    HeaderBuilder h(bytes.data());
    h.Tag("RIFF");
    h.U32(kHeaderSize + kMoviListHead + movieDataSize + kIndexEntrySize * frameCount);
    h.Tag("AVI ");
    h.Tag("LIST");
    h.U32(kHdrlListSize);
    h.Tag("hdrl");
    h.Tag("avih");
    h.U32(56);
    h.U32(microsecondsPerFrame);
    h.U32(0); // max bytes per second
    h.U32(0); // padding granularity
    h.U32(16); // has an index
    h.U32(frameCount);
    h.U32(0); // initial frames
    h.U32(1); // streams
    h.U32(0); // suggested buffer size
    h.U32(width);
    h.U32(height);
    h.Skip(16);
    h.Tag("LIST");
    h.U32(kStrlListSize);
    h.Tag("strl");
    h.Tag("strh");
    h.U32(56);
    h.Tag("vids");
    h.Tag("divx");
    h.U32(0); // flags
    h.U16(0); // priority
    h.U16(0); // language
    h.U32(0); // initial frames
    h.U32(1000); // scale
    // Thousandths of a frame per second: whole frames per second would make
    // 7.5 or 29.97 frames per second play 7 % or 3 % slow.
    h.U32(microsecondsPerFrame ? static_cast<uint32_t>(1000000000ull / microsecondsPerFrame) : 0);
    h.U32(0); // start
    h.U32(frameCount);
    h.U32(65535); // suggested buffer size
    h.U32(10000); // quality
    h.U32(0); // sample size
    h.U16(0);
    h.U16(0);
    h.U16(static_cast<uint16_t>(width));
    h.U16(static_cast<uint16_t>(height));
    h.Tag("strf");
    h.U32(40);
    h.U32(40);
    h.U32(width);
    h.U32(height);
    h.U16(1);
    h.U16(24);
    h.Tag("DX50");
    h.U32(width * height * 6);
    h.Skip(16);
    h.Tag("JUNK");
    h.U32(kStreamJunkSize);
    h.Junk(kStreamJunkSize);
    h.Tag("LIST");
    h.U32(kOdmlListSize);
    h.Tag("odml");
    h.Tag("dmlh");
    h.U32(kDmlhSize);
    h.U32(1);
    h.Skip(kDmlhSize - 4);
    h.Tag("JUNK");
    h.U32(kTailJunkSize);
    h.Junk(kTailJunkSize);
    h.Tag("LIST");
    h.U32(movieDataSize + 4);
    h.Tag("movi");
    return bytes;
}

uint32_t CAviWriter::IndexedLength(const uint8_t* frame, uint32_t size)
{
    uint32_t length = size;
    for (int k = 0; k < 3 && length > 0 && frame[length - 1] == 0; ++k)
        --length;
    return length;
}

bool CAviWriter::WouldOverflow(uint32_t size) const
{
    const uint64_t chunk = 8 + uint64_t{size} + (size & 1);
    const uint64_t fileSize = uint64_t{kHeaderSize} + kMoviListHead + movieDataSize_ + chunk + kIdx1Head +
                              uint64_t{kIndexEntrySize} * (uint64_t{frameCount_} + 1);
    return fileSize > largestFile_;
}

bool CAviWriter::CreateFilesFor(const std::string& finalName)
{
    // Created anew, never over the files of another recording of the name:
    // neither a finished one nor one still being written.
    if (::access(finalName.c_str(), F_OK) == 0) {
        errno = EEXIST;
        return false;
    }
    data_ = std::fopen(DataPath(finalName).c_str(), "w+bxe");
    if (!data_)
        return false;
    index_ = std::fopen(IndexPath(finalName).c_str(), "w+bxe");
    if (!index_) {
        const int error = errno;
        std::fclose(data_);
        data_ = nullptr;
        std::remove(DataPath(finalName).c_str());
        errno = error;
        return false;
    }
    return true;
}

int CAviWriter::Open(const std::string& finalName, int width, int height, const uint8_t* frame, uint32_t size)
{
    Abandon();
    // A taken recording name moves on to its next free second, as a movie
    // file's does.
    openName_ = vyrmovie::ClaimFreeRecordingName(
        finalName, [this](const std::string& candidate) { return CreateFilesFor(candidate); });
    if (openName_.empty())
        return 0;
    dataPath_ = DataPath(openName_);
    indexPath_ = IndexPath(openName_);
    width_ = static_cast<uint32_t>(width);
    height_ = static_cast<uint32_t>(height);
    frameCount_ = 0;
    movieDataSize_ = 0;
    nextOffset_ = 4;
    const std::vector<uint8_t> room(kHeaderSize + kMoviListHead, 0);
    if (!WriteAll(data_, room.data(), room.size()) || !WriteChunk(frame, size, true)) {
        Abandon();
        return 0;
    }
    return 1;
}

bool CAviWriter::WriteChunk(const uint8_t* frame, uint32_t size, bool keyFrame)
{
    uint8_t head[8] = {'0', '0', 'd', 'c'};
    PutLE32(head + 4, size);
    static const uint8_t pad = 0;
    if (!WriteAll(data_, head, sizeof head) || !WriteAll(data_, frame, size) ||
        ((size & 1) && !WriteAll(data_, &pad, 1)))
        return false;
    uint8_t entry[kIndexEntrySize] = {'0', '0', 'd', 'c'};
    PutLE32(entry + 4, keyFrame ? kKeyFrameFlag : 0);
    PutLE32(entry + 8, nextOffset_);
    PutLE32(entry + 12, IndexedLength(frame, size));
    if (!WriteAll(index_, entry, sizeof entry))
        return false;
    const uint32_t chunk = 8 + size + (size & 1);
    ++frameCount_;
    movieDataSize_ += chunk;
    nextOffset_ += chunk;
    return true;
}

int CAviWriter::AddFrame(const uint8_t* frame, uint32_t size)
{
    if (!IsOpen())
        return 0;
    // Intra frames have 0 in the two top bits of the byte after the start code.
    const bool keyFrame = size > 4 && frame[4] < 64;
    return WriteChunk(frame, size, keyFrame) ? 1 : 0;
}

bool CAviWriter::Finish(uint32_t microsecondsPerFrame)
{
    const auto header = Header(frameCount_, width_, height_, microsecondsPerFrame, movieDataSize_);
    if (std::fseek(data_, 0, SEEK_SET) != 0 || !WriteAll(data_, header.data(), header.size()))
        return false;
    std::lock_guard<std::mutex> lock(IndexCopyLock());
    static std::unique_ptr<uint8_t[]> buffer(new uint8_t[kIndexCopyPiece]);
    if (std::fflush(index_) != 0 || std::fseek(data_, 0, SEEK_END) != 0 || std::fseek(index_, 0, SEEK_SET) != 0)
        return false;
    uint8_t head[kIdx1Head] = {'i', 'd', 'x', '1'};
    PutLE32(head + 4, kIndexEntrySize * frameCount_);
    if (!WriteAll(data_, head, sizeof head))
        return false;
    std::size_t left = std::size_t{kIndexEntrySize} * frameCount_;
    while (left > 0) {
        const std::size_t piece = left < kIndexCopyPiece ? left : kIndexCopyPiece;
        if (std::fread(buffer.get(), 1, piece, index_) != piece || !WriteAll(data_, buffer.get(), piece))
            return false;
        left -= piece;
    }
    return std::fflush(data_) == 0;
}

int CAviWriter::Close(const std::string& finalName, int framesPerSecondTimes100)
{
    closeWriteFailed_ = false;
    finalName_.clear();
    if (!IsOpen())
        return 0;
    uint32_t microsecondsPerFrame = kDefaultMicrosecondsPerFrame;
    if (framesPerSecondTimes100 > 0)
        microsecondsPerFrame = static_cast<uint32_t>(100000000 / framesPerSecondTimes100);
    if (microsecondsPerFrame == 0)
        microsecondsPerFrame = 1;
    const bool written = Finish(microsecondsPerFrame);
    const bool dataClosed = std::fclose(data_) == 0;
    std::fclose(index_);
    data_ = index_ = nullptr;
    std::remove(indexPath_.c_str());
    if (!written || !dataClosed) {
        closeWriteFailed_ = true;
        std::remove(dataPath_.c_str());
        return 0;
    }
    // A name that another file has is never replaced: a recording name gets
    // the next free second, as a movie file does.
    finalName_ = vyrmovie::ClaimFreeRecordingName(
        finalName, [this](const std::string& candidate) { return RenameWithoutReplacing(dataPath_, candidate); });
    return finalName_.empty() ? 0 : 1;
}

void CAviWriter::CloseFiles()
{
    if (data_)
        std::fclose(data_);
    if (index_)
        std::fclose(index_);
    data_ = index_ = nullptr;
}

void CAviWriter::Abandon()
{
    const bool hadFiles = data_ || index_;
    CloseFiles();
    if (hadFiles) {
        std::remove(dataPath_.c_str());
        std::remove(indexPath_.c_str());
    }
}

} // namespace vyrdax
