#include "io/byte_queue.h"

#include <algorithm>
#include <cstring>

void ByteQueue::push(const std::uint8_t* first, const std::uint8_t* last) {
    std::size_t length = static_cast<std::size_t>(last - first);
    if (length > kCapacity) {
        first = last - kCapacity;  // the rest would be dropped at once anyway
        length = kCapacity;
    }
    std::lock_guard lock(mutex);
    const std::size_t overflow = count + length > kCapacity ? count + length - kCapacity : 0;
    head = (head + overflow) % kCapacity;
    count -= overflow;
    std::size_t tail = (head + count) % kCapacity;
    while (length > 0) {
        const std::size_t run = std::min(length, kCapacity - tail);
        std::memcpy(ring.data() + tail, first, run);
        first += run;
        length -= run;
        count += run;
        tail = (tail + run) % kCapacity;
    }
}

std::size_t ByteQueue::read(std::uint8_t* buffer, std::size_t maxBytes) {
    std::lock_guard lock(mutex);
    const std::size_t total = std::min(maxBytes, count);
    std::size_t done = 0;
    while (done < total) {
        const std::size_t run = std::min(total - done, kCapacity - head);
        std::memcpy(buffer + done, ring.data() + head, run);
        done += run;
        head = (head + run) % kCapacity;
    }
    count -= total;
    return total;
}

void ByteQueue::clear() {
    std::lock_guard lock(mutex);
    head = 0;
    count = 0;
}

std::size_t ByteQueue::size() const {
    std::lock_guard lock(mutex);
    return count;
}
