#include "io/byte_queue.h"

#include <algorithm>
#include <cstring>

void ByteQueue::push(const std::uint8_t* first, const std::uint8_t* last) {
    std::lock_guard lock(mutex);
    if (chunks.size() >= maxChunks) {
        chunks.pop_front();
    }
    chunks.emplace_back(first, last);
}

std::size_t ByteQueue::read(std::uint8_t* buffer, std::size_t maxBytes) {
    std::lock_guard lock(mutex);
    std::size_t total = 0;
    while (total < maxBytes) {
        if (front.empty()) {
            if (chunks.empty()) {
                break;
            }
            front = std::move(chunks.front());
            chunks.pop_front();
            readPos = 0;
            // An empty chunk carries nothing; move on to the next one.
            if (front.empty()) {
                continue;
            }
        }
        const std::size_t count = std::min(maxBytes - total, front.size() - readPos);
        std::memcpy(buffer + total, front.data() + readPos, count);
        readPos += count;
        total += count;
        if (readPos == front.size()) {
            front.clear();
            readPos = 0;
        }
    }
    return total;
}

void ByteQueue::clear() {
    std::lock_guard lock(mutex);
    std::deque<std::vector<std::uint8_t>>().swap(chunks);
    front.clear();
    readPos = 0;
}

std::size_t ByteQueue::chunkCount() const {
    std::lock_guard lock(mutex);
    return chunks.size();
}
