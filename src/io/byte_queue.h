// ByteQueue: a bounded, thread-safe FIFO of byte chunks read out as one byte stream.
//
// The relay keeps two: keyQueue (one scan code per chunk, pushed from libusb
// completion callbacks, read by the worker) and hostQueue (one serial read per
// chunk, pushed and read by the worker). The bound counts chunks, not bytes:
// once maxChunks are waiting, a push drops the oldest waiting chunk so a stalled
// reader can never make memory grow without limit.
//
// Thread-safety: every operation takes the queue's own lock for its whole
// duration and calls nothing outside the queue while holding it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

class ByteQueue {
public:
    static constexpr std::size_t kMaxChunks = 4096;

    ByteQueue() = default;
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Appends [first, last) as one chunk, dropping the oldest waiting chunk
    // when kMaxChunks are already queued (the chunk being read out is kept).
    void push(const std::uint8_t* first, const std::uint8_t* last);
    void push(std::uint8_t byte) { push(&byte, &byte + 1); }

    // Moves up to maxBytes of the oldest bytes into buffer; returns the count.
    // Does not allocate: a chunk's storage is moved, never copied, into `front`.
    std::size_t read(std::uint8_t* buffer, std::size_t maxBytes);

    // Drops everything, including a partly read chunk.
    void clear();

    // Number of whole chunks waiting (the chunk being read out is not counted).
    std::size_t chunkCount() const;

private:
    mutable std::mutex mutex;
    std::deque<std::vector<std::uint8_t>> chunks;  // guarded by mutex
    std::vector<std::uint8_t> front;               // guarded by mutex
    std::size_t readPos = 0;                       // guarded by mutex
    const std::size_t maxChunks = kMaxChunks;
};
