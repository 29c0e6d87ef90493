#include "control/link/CFrameQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using vyrdax::CFrameQueue;
using vyrdax::FrameInfo;

FrameInfo Record(uint32_t length, uint32_t tag)
{
    FrameInfo r;
    r.SetWord(FrameInfo::kLength, length);
    r.SetWord(FrameInfo::kStreamWord, tag);
    return r;
}

std::vector<uint8_t> Payload(uint32_t length, uint8_t seed)
{
    std::vector<uint8_t> p(length);
    for (uint32_t k = 0; k < length; ++k)
        p[k] = static_cast<uint8_t>(seed + k * 7);
    return p;
}

TEST(FrameQueue, HoldsSixtyFramesAndRefusesTheSixtyFirst)
{
    CFrameQueue q;
    EXPECT_EQ(q.Backlog(), -1);
    EXPECT_TRUE(q.IsEmpty());
    auto p = Payload(100, 1);
    for (uint32_t k = 0; k < 60; ++k)
        ASSERT_EQ(q.Push(p.data(), Record(100, k)), 1) << k;
    EXPECT_TRUE(q.IsFull());
    EXPECT_EQ(q.Backlog(), 59);
    EXPECT_EQ(q.Push(p.data(), Record(100, 60)), 0);
    EXPECT_EQ(q.Backlog(), 59);
    FrameInfo out;
    std::vector<uint8_t> buffer(100);
    ASSERT_EQ(q.Front(buffer.data(), buffer.size(), &out), 1);
    EXPECT_EQ(out.Word(FrameInfo::kStreamWord), 0u); // oldest first, the refused one is not there
}

TEST(FrameQueue, FrontIsRepeatableAndBoundedByTheCallersBuffer)
{
    CFrameQueue q;
    auto a = Payload(3000, 5), b = Payload(10, 9);
    ASSERT_EQ(q.Push(a.data(), Record(3000, 1)), 1);
    ASSERT_EQ(q.Push(b.data(), Record(10, 2)), 1);
    EXPECT_EQ(q.Backlog(), 1);

    std::vector<uint8_t> small(2999, 0xEE);
    FrameInfo out;
    EXPECT_EQ(q.Front(small.data(), small.size(), &out), -1);
    EXPECT_EQ(out.Length(), 3000u);
    EXPECT_EQ(small[0], 0xEE); // nothing written into a buffer too small

    std::vector<uint8_t> big(4000);
    ASSERT_EQ(q.Front(big.data(), big.size(), &out), 1);
    EXPECT_TRUE(std::equal(a.begin(), a.end(), big.begin()));
    ASSERT_EQ(q.Front(big.data(), big.size(), &out), 1);
    EXPECT_EQ(out.Word(FrameInfo::kStreamWord), 1u);
    ASSERT_EQ(q.PopFront(), 1);
    ASSERT_EQ(q.Front(big.data(), big.size(), &out), 1);
    EXPECT_EQ(out.Word(FrameInfo::kStreamWord), 2u);
    EXPECT_TRUE(std::equal(b.begin(), b.end(), big.begin()));
    ASSERT_EQ(q.PopFront(), 1);
    EXPECT_EQ(q.PopFront(), 0);
    EXPECT_EQ(q.Front(big.data(), big.size(), &out), 0);
}

TEST(FrameQueue, LargeFrameGrowsItsSlotUntilTheQueueIsRebuilt)
{
    CFrameQueue q;
    auto small = Payload(10, 0);
    auto large = Payload(150000, 3);
    ASSERT_EQ(q.Push(small.data(), Record(10, 0)), 1);
    ASSERT_EQ(q.Push(large.data(), Record(150000, 1)), 1);
    EXPECT_EQ(q.SlotCapacity(1), 196608u);
    EXPECT_EQ(q.SlotCapacity(0), 65536u);
    std::vector<uint8_t> buffer(150000);
    FrameInfo out;
    ASSERT_EQ(q.PopFront(), 1);
    ASSERT_EQ(q.Front(buffer.data(), buffer.size(), &out), 1);
    EXPECT_EQ(buffer, large);
    // Still grown while frames remain.
    ASSERT_EQ(q.Push(small.data(), Record(10, 2)), 1);
    EXPECT_EQ(q.SlotCapacity(1), 196608u);
    ASSERT_EQ(q.PopFront(), 1);
    ASSERT_EQ(q.PopFront(), 1);
    // A push into the emptied queue rebuilds it from slot 0 at 64 KiB.
    ASSERT_EQ(q.Push(small.data(), Record(10, 3)), 1);
    EXPECT_EQ(q.Head(), 0);
    EXPECT_EQ(q.SlotCount(), 60);
    EXPECT_EQ(q.SlotCapacity(1), 65536u);
}

TEST(FrameQueue, ClearMakesTheNextPushRebuildAndFreeReleasesEverything)
{
    CFrameQueue q;
    auto p = Payload(70000, 1);
    ASSERT_EQ(q.Push(p.data(), Record(70000, 0)), 1);
    ASSERT_EQ(q.Push(p.data(), Record(70000, 1)), 1);
    q.Clear();
    EXPECT_EQ(q.Backlog(), -1);
    EXPECT_EQ(q.SlotCapacity(0), 131072u); // buffers kept by Clear
    ASSERT_EQ(q.Push(p.data(), Record(10, 2)), 1);
    EXPECT_EQ(q.SlotCapacity(0), 65536u);
    q.Free();
    EXPECT_EQ(q.SlotCount(), 0);
    EXPECT_EQ(q.PopFront(), 0);
    FrameInfo out;
    uint8_t b[16];
    EXPECT_EQ(q.Front(b, sizeof b, &out), 0);
    EXPECT_EQ(q.Push(p.data(), Record(10, 3)), 1); // comes back to life on a push
}

TEST(FrameQueue, RefusesARecordWhoseLengthNoFrameCanHave)
{
    CFrameQueue q;
    uint8_t b[4] = {};
    EXPECT_EQ(q.Push(b, Record(0xFFFFFFFFu, 0)), 0);
    EXPECT_EQ(q.Push(nullptr, Record(4, 0)), 0);
    EXPECT_TRUE(q.IsEmpty());
}

// One producer, one consumer and a clearing thread: every frame that comes
// out is whole and in order, and nothing crashes under the sanitizers.
TEST(FrameQueue, ProducerConsumerAndClearStayConsistent)
{
    CFrameQueue q;
    std::atomic<bool> done{false};
    std::atomic<int> corrupt{0}, outOfOrder{0}, consumed{0};
    std::thread producer([&] {
        std::vector<uint8_t> p;
        for (uint32_t k = 1; k <= 20000; ++k) {
            const uint32_t length = 1 + (k * 7919) % 140000;
            p.assign(length, static_cast<uint8_t>(k));
            while (!q.Push(p.data(), Record(length, k)))
                std::this_thread::yield();
        }
        done = true;
    });
    std::thread clearer([&] {
        while (!done.load()) {
            q.Clear();
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    std::vector<uint8_t> buffer(CFrameQueue::kMaxFrameBytes > 200000 ? 200000 : CFrameQueue::kMaxFrameBytes);
    uint32_t last = 0;
    while (!done.load() || !q.IsEmpty()) {
        FrameInfo r;
        if (q.Front(buffer.data(), buffer.size(), &r) != 1) {
            std::this_thread::yield();
            continue;
        }
        const uint32_t tag = r.Word(FrameInfo::kStreamWord);
        for (uint32_t k = 0; k < r.Length(); k += 997)
            if (buffer[k] != static_cast<uint8_t>(tag))
                ++corrupt;
        if (tag < last)
            ++outOfOrder;
        last = tag;
        ++consumed;
        q.PopFront();
    }
    producer.join();
    clearer.join();
    EXPECT_EQ(corrupt.load(), 0);
    EXPECT_EQ(outOfOrder.load(), 0);
    EXPECT_GT(consumed.load(), 0);
}

} // namespace
