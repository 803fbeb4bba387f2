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

TEST(ByteQueue, FullQueueDropsOldestWaitingChunk) {
    ByteQueue q;
    for (std::size_t i = 0; i < ByteQueue::kMaxChunks; ++i) {
        pushBytes(q, {static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)});
    }
    EXPECT_EQ(q.chunkCount(), ByteQueue::kMaxChunks);
    pushBytes(q, {0xAA, 0xBB});
    EXPECT_EQ(q.chunkCount(), ByteQueue::kMaxChunks);
    EXPECT_EQ(readBytes(q, 2), (Bytes{1, 0}));  // push 0 was dropped

    // Drain to the last chunk and check the newest one survived.
    std::vector<std::uint8_t> all(2 * ByteQueue::kMaxChunks);
    const std::size_t n = q.read(all.data(), all.size());
    ASSERT_EQ(n, 2 * (ByteQueue::kMaxChunks - 1));
    EXPECT_EQ(all[n - 2], 0xAA);
    EXPECT_EQ(all[n - 1], 0xBB);
}

TEST(ByteQueue, ChunkBeingReadIsNotCountedNorDropped) {
    ByteQueue q;
    pushBytes(q, {1, 2});
    EXPECT_EQ(readBytes(q, 1), Bytes{1});  // {1, 2} is now being read out
    for (std::size_t i = 0; i < ByteQueue::kMaxChunks + 1; ++i) {
        pushBytes(q, {9});
    }
    EXPECT_EQ(readBytes(q, 1), Bytes{2});
    EXPECT_EQ(q.chunkCount(), ByteQueue::kMaxChunks);
}

TEST(ByteQueue, ClearDropsPartlyReadChunkToo) {
    ByteQueue q;
    pushBytes(q, {1, 2, 3});
    pushBytes(q, {4});
    EXPECT_EQ(readBytes(q, 1), Bytes{1});
    q.clear();
    EXPECT_EQ(readBytes(q, 16), Bytes{});
    EXPECT_EQ(q.chunkCount(), 0u);
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
