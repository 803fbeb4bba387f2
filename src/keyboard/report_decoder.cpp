#include "keyboard/report_decoder.h"

#include <algorithm>
#include <cstring>

#include "keyboard/scan_code_table.h"

namespace {

constexpr std::size_t kFirstSlot = 2;
constexpr std::size_t kSlotCount = 6;

void emit(ByteQueue& keyQueue, std::uint8_t usage, bool released) {
    const std::uint8_t code = kScanCodeTable[usage];
    if (code != 0) {
        keyQueue.push(released ? breakOf(code) : code);
    }
}

// Whether usage is among the first n slots.
bool contains(const std::uint8_t* slots, std::uint8_t usage, std::size_t n = kSlotCount) {
    return std::find(slots, slots + n, usage) != slots + n;
}

// Every usage in `from` (in slot order, each once) that `other` does not hold.
template <typename Fn>
void forEachMissing(const std::uint8_t* from, const std::uint8_t* other, Fn fn) {
    for (std::size_t p = 0; p < kSlotCount; ++p) {
        const std::uint8_t usage = from[p];
        if (usage != 0 && !contains(other, usage) && !contains(from, usage, p)) {
            fn(usage);
        }
    }
}

void decodeBoot(ReportBuffer& buffer, ByteQueue& keyQueue) {
    const std::uint8_t* now = buffer.current();
    const std::uint8_t* was = buffer.previous();

    const std::uint8_t changed = now[0] ^ was[0];
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((changed >> bit) & 1u) {
            emit(keyQueue, static_cast<std::uint8_t>(0xE0 + bit), ((now[0] >> bit) & 1u) == 0);
        }
    }

    // The slots form a set: a key that merely moves to another slot (because an
    // earlier key left) is still held and must not be reported at all.
    const std::uint8_t* nowSlots = now + kFirstSlot;
    const std::uint8_t* wasSlots = was + kFirstSlot;
    forEachMissing(wasSlots, nowSlots, [&](std::uint8_t usage) { emit(keyQueue, usage, true); });
    forEachMissing(nowSlots, wasSlots, [&](std::uint8_t usage) { emit(keyQueue, usage, false); });

    std::memcpy(buffer.previous(), buffer.current(), kBootReportLength);
}

void decodeBitmap(ReportBuffer& buffer, ByteQueue& keyQueue) {
    const std::uint8_t* now = buffer.current();
    const std::uint8_t* was = buffer.previous();
    for (unsigned i = 0; i < kBitmapReportLength; ++i) {
        const std::uint8_t changed = now[i] ^ was[i];
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((changed >> bit) & 1u) {
                emit(keyQueue, static_cast<std::uint8_t>(i * 8 + bit), ((now[i] >> bit) & 1u) == 0);
            }
        }
    }
    std::memcpy(buffer.previous(), buffer.current(), kBitmapReportLength);
}

}  // namespace

void decodeReport(std::uint8_t endpoint, std::size_t actualLength, ReportBuffer& buffer,
                  ByteQueue& keyQueue) {
    if (endpoint == kBootEndpoint && actualLength == kBootReportLength) {
        decodeBoot(buffer, keyQueue);
    } else if (endpoint == kBitmapEndpoint && actualLength == kBitmapReportLength) {
        decodeBitmap(buffer, keyQueue);
    }
}
