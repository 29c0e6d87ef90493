#pragma once
// One channel's frames on their way from the receive thread to the display
// thread: a ring of slots whose buffers grow in 64 KiB steps.
#include "FrameInfo.h"

#include <cstdint>
#include <mutex>

namespace vyrdax {

class CFrameQueue {
public:
    static constexpr int kSlots = 60;
    static constexpr uint32_t kGrowthStep = 65536;
    // No frame the link admits comes near this; it only bounds a bad record.
    static constexpr uint32_t kMaxFrameBytes = 16u << 20;

    CFrameQueue() = default;
    virtual ~CFrameQueue();
    CFrameQueue(const CFrameQueue&) = delete;
    CFrameQueue& operator=(const CFrameQueue&) = delete;

    int Create(int slotCount);
    void Free();

    // Stores a copy of record.Length() bytes of `payload`; 0 when the queue
    // is full (or the frame cannot be held), 1 when stored.
    int Push(const uint8_t* payload, const FrameInfo& record);

    // Copies the oldest frame out without removing it: 1 when copied, 0 when
    // the queue is empty, -1 when it is longer than `capacity` (nothing is
    // copied into `destination`, but `record` is filled so the caller sees
    // why).
    int Front(uint8_t* destination, std::size_t capacity, FrameInfo* record);
    int PopFront();

    int Backlog() const;
    bool IsEmpty() const;
    bool IsFull() const;
    void Clear();

    // For tests and diagnostics.
    int SlotCount() const;
    uint32_t SlotCapacity(int slot) const;
    int Head() const;

private:
    void FreeLocked();
    int CreateLocked(int slotCount);

    mutable std::recursive_mutex lock_;
    uint8_t** buffers_ = nullptr;
    uint32_t* capacities_ = nullptr;
    FrameInfo* records_ = nullptr;
    int slotCount_ = 0;
    int head_ = 0;
    int count_ = 0;
};

} // namespace vyrdax
