// ByteQueue: a bounded, thread-safe FIFO of bytes.
//
// The relay keeps two: keyQueue (scan codes pushed from the keyboard's
// completion callbacks, read by the worker) and hostQueue (whatever each
// serial read brought, pushed and read by the worker). At most kCapacity
// bytes wait; a push that would go beyond drops the oldest waiting bytes, so a
// stalled reader can never make memory grow and what it finally reads is the
// newest. The storage is allocated once, at construction.
//
// Thread-safety: every operation takes the queue's own lock for its whole
// duration and calls nothing outside the queue while holding it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

class ByteQueue {
public:
    static constexpr std::size_t kCapacity = 4096;

    ByteQueue() = default;
    ByteQueue(const ByteQueue&) = delete;
    ByteQueue& operator=(const ByteQueue&) = delete;

    // Appends [first, last), dropping the oldest waiting bytes to make room;
    // of a range longer than kCapacity only its last kCapacity bytes stay.
    void push(const std::uint8_t* first, const std::uint8_t* last);
    void push(std::uint8_t byte) { push(&byte, &byte + 1); }

    // Moves up to maxBytes of the oldest bytes into buffer; returns the count.
    std::size_t read(std::uint8_t* buffer, std::size_t maxBytes);

    // Drops everything waiting.
    void clear();

    // Number of bytes waiting.
    std::size_t size() const;

private:
    mutable std::mutex mutex;
    std::array<std::uint8_t, kCapacity> ring{};  // guarded by mutex
    std::size_t head = 0;                        // index of the oldest byte; guarded by mutex
    std::size_t count = 0;                       // bytes waiting; guarded by mutex
};
