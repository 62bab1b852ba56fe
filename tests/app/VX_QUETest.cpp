#include "app/VX_QUE.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

namespace {

// A message whose first four bytes carry its id and whose length is id-dependent, so a slot
// mix-up shows both in the id and in the bytes after it.
std::vector<std::uint8_t> message(std::uint32_t id)
{
    std::vector<std::uint8_t> m(16 + id % 50, static_cast<std::uint8_t>(id * 7));
    std::memcpy(m.data(), &id, sizeof id);
    return m;
}

std::uint32_t take(VX_QUE& q, std::vector<std::uint8_t>& buffer)
{
    std::uint32_t id = UINT32_MAX;
    if (q.deqEntry(buffer.data()))
        std::memcpy(&id, buffer.data(), sizeof id);
    return id;
}

} // namespace

TEST(VX_QUE, FullQueueRefusesAndKeepsTheOldestFirst)
{
    VX_QUE q;
    for (std::uint32_t i = 0; i < VX_QUE::kSlots; ++i) {
        const auto m = message(i);
        ASSERT_EQ(q.enqEntry(m.size(), m.data()), 1) << i;
    }
    const auto extra = message(99);
    EXPECT_EQ(q.enqEntry(extra.size(), extra.data()), 0);
    EXPECT_EQ(q.count(), VX_QUE::kSlots);

    std::vector<std::uint8_t> buffer(VX_QUE::kSlotSize);
    EXPECT_EQ(take(q, buffer), 0u);
    EXPECT_EQ(q.count(), VX_QUE::kSlots - 1);
}

// Interleaved enqueues and dequeues against a reference queue: the indexes wrap from 19 to 0
// many times, and the queue runs full and empty on the way.
TEST(VX_QUE, KeepsOrderAcrossWrapsFullAndEmpty)
{
    VX_QUE q;
    std::deque<std::uint32_t> expected;
    std::vector<std::uint8_t> buffer(VX_QUE::kSlotSize);
    std::uint32_t next = 0;
    std::uint32_t seed = 12345;
    for (int step = 0; step < 2000; ++step) {
        seed = seed * 1103515245u + 12345u;
        // Phases that favour filling, then draining, so both ends are reached.
        const bool fillPhase = (step / 100) % 2 == 0;
        const bool enqueue = (seed >> 16) % 10 < (fillPhase ? 7u : 3u);
        if (enqueue) {
            const auto m = message(next);
            const int accepted = q.enqEntry(m.size(), m.data());
            ASSERT_EQ(accepted, expected.size() < VX_QUE::kSlots ? 1 : 0) << step;
            if (accepted)
                expected.push_back(next);
            ++next;
        } else {
            const std::uint32_t got = take(q, buffer);
            if (expected.empty()) {
                ASSERT_EQ(got, UINT32_MAX) << step;
                continue;
            }
            ASSERT_EQ(got, expected.front()) << step;
            const auto m = message(got);
            ASSERT_EQ(std::memcmp(buffer.data(), m.data(), m.size()), 0) << step;
            expected.pop_front();
        }
        ASSERT_EQ(q.count(), static_cast<int>(expected.size()));
    }
}

TEST(VX_QUE, SlotSizeIsTheLimit)
{
    VX_QUE q;
    std::vector<std::uint8_t> big(VX_QUE::kSlotSize + 1, 0x5A);
    big[VX_QUE::kSlotSize - 1] = 0xA5;

    testing::internal::CaptureStdout();
    EXPECT_EQ(q.enqEntry(big.size(), big.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ENQENTRY DATA_SIZE_OVER:size=65793\n");
    EXPECT_EQ(q.count(), 0);

    ASSERT_EQ(q.enqEntry(VX_QUE::kSlotSize, big.data()), 1);
    std::vector<std::uint8_t> buffer(VX_QUE::kSlotSize);
    ASSERT_EQ(q.deqEntry(buffer.data()), 1);
    EXPECT_EQ(buffer.front(), 0x5A);
    EXPECT_EQ(buffer.back(), 0xA5);
}

TEST(VX_QUE, EmptyQueueLeavesTheBufferAlone)
{
    VX_QUE q;
    std::vector<std::uint8_t> buffer(VX_QUE::kSlotSize, 0xEE);
    EXPECT_EQ(q.deqEntry(buffer.data()), 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE),
              static_cast<std::ptrdiff_t>(buffer.size()));

    // Also once it has been used and drained again.
    const auto m = message(1);
    ASSERT_EQ(q.enqEntry(m.size(), m.data()), 1);
    ASSERT_EQ(q.deqEntry(buffer.data()), 1);
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_EQ(q.deqEntry(buffer.data()), 0);
    EXPECT_EQ(buffer[0], 0xEE);
}

// A queue that never holds more than two messages at once has two slots of memory, however
// many messages pass through it; the slots are kept once made.
TEST(VX_QUE, AllocatesOnlyAsManySlotsAsMessagesWaitAtOnce)
{
    VX_QUE q;
    EXPECT_EQ(q.allocatedSlots(), 0);
    std::vector<std::uint8_t> buffer(VX_QUE::kSlotSize);
    for (std::uint32_t i = 0; i < 100; i += 2) {
        const auto a = message(i);
        const auto b = message(i + 1);
        ASSERT_EQ(q.enqEntry(a.size(), a.data()), 1);
        ASSERT_EQ(q.enqEntry(b.size(), b.data()), 1);
        EXPECT_EQ(q.frontSize(), a.size());
        EXPECT_EQ(take(q, buffer), i);
        EXPECT_EQ(take(q, buffer), i + 1);
    }
    EXPECT_EQ(q.allocatedSlots(), 2);
    EXPECT_EQ(q.frontSize(), 0u);
}
