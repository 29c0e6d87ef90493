#pragma once
// A block of sound: its data, the bytes in use, and whether it owns the data.
#include <cstddef>
#include <cstdint>

namespace vyrdax {

class CSoundBuffer {
public:
    explicit CSoundBuffer(std::size_t size) : data_(new uint8_t[size]()), size_(size), owns_(true) {}
    CSoundBuffer(uint8_t* data, std::size_t size) : data_(data), size_(size), used_(size), owns_(false) {}
    ~CSoundBuffer()
    {
        if (owns_)
            delete[] data_;
    }
    CSoundBuffer(const CSoundBuffer&) = delete;
    CSoundBuffer& operator=(const CSoundBuffer&) = delete;

    uint8_t* Data() const { return data_; }
    std::size_t Size() const { return size_; }
    std::size_t Used() const { return used_; }
    void SetUsed(std::size_t used) { used_ = used <= size_ ? used : size_; }
    bool OwnsData() const { return owns_; }

private:
    uint8_t* data_;
    std::size_t size_;
    std::size_t used_ = 0;
    bool owns_;
};

} // namespace vyrdax
