#include "CFrameQueue.h"

#include <cstring>
#include <new>

namespace vyrdax {

CFrameQueue::~CFrameQueue() { Free(); }

int CFrameQueue::Create(int slotCount)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return CreateLocked(slotCount);
}

int CFrameQueue::CreateLocked(int slotCount)
{
    FreeLocked();
    if (slotCount <= 0)
        return 0;
    try {
        records_ = new FrameInfo[slotCount];
        capacities_ = new uint32_t[slotCount]();
        buffers_ = new uint8_t*[slotCount]();
        slotCount_ = slotCount;
        for (int s = 0; s < slotCount; ++s) {
            buffers_[s] = new uint8_t[kGrowthStep];
            capacities_[s] = kGrowthStep;
        }
    } catch (const std::bad_alloc&) {
        FreeLocked();
        return 0;
    }
    head_ = 0;
    count_ = 0;
    return 1;
}

void CFrameQueue::Free()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    FreeLocked();
}

void CFrameQueue::FreeLocked()
{
    if (buffers_) {
        for (int s = 0; s < slotCount_; ++s)
            delete[] buffers_[s];
    }
    delete[] buffers_;
    delete[] capacities_;
    delete[] records_;
    buffers_ = nullptr;
    capacities_ = nullptr;
    records_ = nullptr;
    slotCount_ = 0;
    head_ = 0;
    count_ = 0;
}

int CFrameQueue::Push(const uint8_t* payload, const FrameInfo& record)
{
    const uint32_t length = record.Length();
    if (length > kMaxFrameBytes || (length > 0 && !payload))
        return 0;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    // An empty queue is rebuilt on every push: slots that grew for a large
    // frame go back to their first size.
    if (count_ == 0 && !CreateLocked(kSlots))
        return 0;
    if (count_ == slotCount_)
        return 0;
    const int s = (head_ + count_) % slotCount_;
    if (length > capacities_[s]) {
        uint32_t capacity = capacities_[s];
        while (capacity < length)
            capacity += kGrowthStep;
        uint8_t* grown = new (std::nothrow) uint8_t[capacity];
        if (!grown)
            return 0;
        std::memcpy(grown, buffers_[s], capacities_[s]);
        delete[] buffers_[s];
        buffers_[s] = grown;
        capacities_[s] = capacity;
    }
    if (length > 0)
        std::memcpy(buffers_[s], payload, length);
    records_[s] = record;
    ++count_;
    return 1;
}

int CFrameQueue::Front(uint8_t* destination, std::size_t capacity, FrameInfo* record)
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (count_ == 0)
        return 0;
    const FrameInfo& head = records_[head_];
    if (record)
        *record = head;
    const uint32_t length = head.Length();
    if (length > capacity)
        return -1;
    if (length > 0 && destination)
        std::memcpy(destination, buffers_[head_], length);
    return 1;
}

int CFrameQueue::PopFront()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (count_ == 0)
        return 0;
    head_ = (head_ + 1) % slotCount_;
    --count_;
    return 1;
}

int CFrameQueue::Backlog() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return count_ - 1;
}

bool CFrameQueue::IsEmpty() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return count_ == 0;
}

bool CFrameQueue::IsFull() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return slotCount_ != 0 && count_ == slotCount_;
}

void CFrameQueue::Clear()
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    head_ = 0;
    count_ = 0;
}

int CFrameQueue::SlotCount() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return slotCount_;
}

uint32_t CFrameQueue::SlotCapacity(int slot) const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return slot >= 0 && slot < slotCount_ ? capacities_[slot] : 0;
}

int CFrameQueue::Head() const
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return head_;
}

} // namespace vyrdax
