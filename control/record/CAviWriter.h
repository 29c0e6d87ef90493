#pragma once
// Writes one channel's MPEG-4 frames into a RIFF AVI file with a single
// "DX50" video stream. While recording, frame chunks go to a temporary data
// file "<name>.str" behind room for the header, and index entries to
// "<name>.idx"; closing writes the header, appends the index and renames the
// data file to its final name.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vyrdax {

class CAviWriter {
public:
    static constexpr uint32_t kHeaderSize = 6144;
    static constexpr uint32_t kMoviListHead = 12; // "LIST", size, "movi"
    static constexpr uint32_t kIndexEntrySize = 16;
    static constexpr uint32_t kDefaultMicrosecondsPerFrame = 33333;
    static constexpr uint32_t kKeyFrameFlag = 16;
    static constexpr std::size_t kIndexCopyPiece = 4u << 20;

    // Every 32-bit size and offset of a RIFF file stays within this.
    static constexpr uint64_t kLargestFile = 0xFFFFFFFFull;

    // `largestFile` below kLargestFile lets tests reach a split with small files.
    explicit CAviWriter(uint64_t largestFile = kLargestFile) : largestFile_(largestFile) {}
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    // 1 on success; 0 when a temporary file cannot be created or the first
    // frame cannot be written (nothing is left behind then). The first
    // frame is indexed as a key frame whatever it holds. A final name that
    // another file has (or another recording writing under it) is never
    // used: a recording name takes its next free second (OpenName tells),
    // any other name fails.
    int Open(const std::string& finalName, int width, int height, const uint8_t* frame, uint32_t size);
    // The final name the open file was given.
    const std::string& OpenName() const { return openName_; }
    // 1 on success, 0 when the frame could not be written.
    int AddFrame(const uint8_t* frame, uint32_t size);
    // Finishes with 100,000,000 / framesPerSecondTimes100 microseconds per
    // frame; 1 when the file has its final name. On a write fault both
    // temporary files go; on a failed rename the data file stays. A final
    // name that another file took meanwhile is not replaced: a recording
    // name takes its next free second (FinalName tells), any other fails.
    int Close(const std::string& finalName, int framesPerSecondTimes100);
    // The name the last Close gave the file; empty when it gave none.
    const std::string& FinalName() const { return finalName_; }
    // Closes and removes both temporary files.
    void Abandon();

    bool IsOpen() const { return data_ != nullptr; }
    // Whether the last Close failed writing (rather than renaming).
    bool CloseWriteFailed() const { return closeWriteFailed_; }
    // Whether one more frame of `size` bytes would carry a 32-bit size or
    // offset of the file past its range (or the file past its given limit).
    bool WouldOverflow(uint32_t size) const;
    uint32_t FrameCount() const { return frameCount_; }
    uint32_t MovieDataSize() const { return movieDataSize_; }

    // The 6144-byte header followed by the "movi" list head.
    static std::array<uint8_t, kHeaderSize + kMoviListHead> Header(uint32_t frameCount, uint32_t width,
                                                                   uint32_t height, uint32_t microsecondsPerFrame,
                                                                   uint32_t movieDataSize);
    // The index length of a frame: its size less up to 3 trailing zero bytes.
    static uint32_t IndexedLength(const uint8_t* frame, uint32_t size);
    static std::string DataPath(const std::string& finalName) { return finalName + ".str"; }
    static std::string IndexPath(const std::string& finalName) { return finalName + ".idx"; }

private:
    // Creates both temporary files for `finalName`; false with errno
    // EEXIST when the name or a temporary file of it is taken.
    bool CreateFilesFor(const std::string& finalName);
    bool WriteChunk(const uint8_t* frame, uint32_t size, bool keyFrame);
    bool Finish(uint32_t microsecondsPerFrame);
    void CloseFiles();

    std::FILE* data_ = nullptr;
    std::FILE* index_ = nullptr;
    std::string dataPath_, indexPath_;
    std::string openName_, finalName_;
    uint32_t frameCount_ = 0;
    uint32_t width_ = 0, height_ = 0;
    uint32_t movieDataSize_ = 0;
    uint32_t nextOffset_ = 4; // from the "movi" fourcc
    bool closeWriteFailed_ = false;
    uint64_t largestFile_;
};

} // namespace vyrdax
