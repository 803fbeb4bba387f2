#include "io/byte_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

void pushBytes(ByteQueue& q, std::vector<std::uint8_t> bytes) {
    q.push(bytes.data(), bytes.data() + bytes.size());
}

std::vector<std::uint8_t> readBytes(ByteQueue& q, std::size_t maxBytes) {
    std::vector<std::uint8_t> out(maxBytes);
    out.resize(q.read(out.data(), maxBytes));
    return out;
}

using Bytes = std::vector<std::uint8_t>;

TEST(ByteQueue, EmptyQueueReadsNothing) {
    ByteQueue q;
    EXPECT_EQ(readBytes(q, 16), Bytes{});
    pushBytes(q, {7});
    EXPECT_EQ(readBytes(q, 16), Bytes{7});  // the empty read changed nothing
}

TEST(ByteQueue, ChunksReadAsOneStream) {
    ByteQueue q;
    pushBytes(q, {1});
    pushBytes(q, {2});
    pushBytes(q, {3});
    EXPECT_EQ(readBytes(q, 2), (Bytes{1, 2}));
    EXPECT_EQ(readBytes(q, 2), Bytes{3});
    EXPECT_EQ(readBytes(q, 2), Bytes{});
}

TEST(ByteQueue, LongChunkIsHandedOutAcrossReadsBeforeLaterChunks) {
    ByteQueue q;
    pushBytes(q, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(readBytes(q, 1), Bytes{0});
    pushBytes(q, {42});  // must wait behind the rest of the first chunk
    for (std::uint8_t i = 1; i < 10; ++i) {
        EXPECT_EQ(readBytes(q, 1), Bytes{i});
    }
    EXPECT_EQ(readBytes(q, 1), Bytes{42});
}

TEST(ByteQueue, FullQueueDropsTheOldestBytes) {
    ByteQueue q;
    std::vector<std::uint8_t> all(ByteQueue::kCapacity);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i * 7);
    }
    q.push(all.data(), all.data() + all.size());
    EXPECT_EQ(readBytes(q, 3), (Bytes{all[0], all[1], all[2]}));
    pushBytes(q, {0xA1, 0xA2, 0xA3, 0xA4, 0xA5});  // two bytes too many: all[3], all[4] go
    EXPECT_EQ(q.size(), ByteQueue::kCapacity);
    std::vector<std::uint8_t> out(2 * ByteQueue::kCapacity);
    out.resize(q.read(out.data(), out.size()));
    ASSERT_EQ(out.size(), ByteQueue::kCapacity);
    EXPECT_EQ(out[0], all[5]);
    EXPECT_EQ(out[out.size() - 6], all.back());
    EXPECT_EQ((Bytes{out.end() - 5, out.end()}), (Bytes{0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
}

TEST(ByteQueue, OversizedPushKeepsItsNewestBytes) {
    ByteQueue q;
    pushBytes(q, {1, 2, 3});
    std::vector<std::uint8_t> big(ByteQueue::kCapacity + 10);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i);
    }
    q.push(big.data(), big.data() + big.size());
    std::vector<std::uint8_t> out(2 * big.size());
    out.resize(q.read(out.data(), out.size()));
    EXPECT_EQ(out, (Bytes{big.begin() + 10, big.end()}));
}

TEST(ByteQueue, WrapsAroundItsStorageInOrder) {
    ByteQueue q;
    std::uint8_t next = 0, expected = 0;
    for (int round = 0; round < 3 * static_cast<int>(ByteQueue::kCapacity) / 100; ++round) {
        Bytes chunk;
        for (int i = 0; i < 100; ++i) {
            chunk.push_back(next++);
        }
        pushBytes(q, chunk);
        for (std::uint8_t b : readBytes(q, 99)) {
            ASSERT_EQ(b, expected++);
        }
    }
    EXPECT_EQ(q.size(), 3 * ByteQueue::kCapacity / 100);
}

TEST(ByteQueue, ClearDropsEverythingWaiting) {
    ByteQueue q;
    pushBytes(q, {1, 2, 3});
    pushBytes(q, {4});
    EXPECT_EQ(readBytes(q, 1), Bytes{1});
    q.clear();
    EXPECT_EQ(readBytes(q, 16), Bytes{});
    EXPECT_EQ(q.size(), 0u);
    pushBytes(q, {5});
    EXPECT_EQ(readBytes(q, 16), Bytes{5});
}

TEST(ByteQueue, ProducerAndConsumerOnTwoThreadsKeepOrder) {
    ByteQueue q;
    constexpr int kCount = 3000;  // below the bound: nothing may be dropped
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i) {
            q.push(static_cast<std::uint8_t>(i));
        }
    });
    std::vector<std::uint8_t> got;
    while (got.size() < kCount) {
        std::uint8_t buffer[64];
        const std::size_t n = q.read(buffer, sizeof buffer);
        got.insert(got.end(), buffer, buffer + n);
        if (n == 0) {
            std::this_thread::yield();
        }
    }
    producer.join();
    for (int i = 0; i < kCount; ++i) {
        ASSERT_EQ(got[i], static_cast<std::uint8_t>(i)) << "at " << i;
    }
}

}  // namespace
