#include "protocol/key_output.h"

#include <array>

#include "protocol/scan_code.h"

namespace {

constexpr std::size_t kPumpBufferBytes = 4096;

// Due when the signed distance to the due time is zero or negative, so the
// comparison holds across the wrap of the 32-bit tick.
bool isDue(std::uint32_t due, std::uint32_t now) {
    return static_cast<std::int32_t>(due - now) <= 0;
}

}  // namespace

void resetRepeat(RepeatState& repeat) {
    repeat = {0, 0, kDefaultRepeatDelayMs, kDefaultRepeatIntervalMs};
}

void stopRepeat(RepeatState& repeat) {
    repeat.repeatCode = 0;
    repeat.repeatDue = 0;
}

void pumpKeys(ByteQueue& keyQueue, SerialPort& port, RepeatState& repeat, const TickSource& ticks) {
    std::array<std::uint8_t, kPumpBufferBytes> buffer;
    const std::size_t count = keyQueue.read(buffer.data(), buffer.size());
    const std::uint32_t now = ticks();

    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = buffer[i];
        const std::int32_t code = keyCodeOf(b);
        if (isBreak(b)) {
            if (code == repeat.repeatCode) {
                stopRepeat(repeat);
            } else if (repeat.repeatCode != 0) {
                // Another key let go: the held key waits a full delay again.
                repeat.repeatDue = now + static_cast<std::uint32_t>(repeat.repeatDelayMs);
            }
        } else {
            repeat.repeatCode = code;
            if (code != 0) {
                repeat.repeatDue = now + static_cast<std::uint32_t>(repeat.repeatDelayMs);
            }
        }
        port.writeByte(b);
    }

    if (repeat.repeatCode != 0 && isDue(repeat.repeatDue, now)) {
        repeat.repeatDue += static_cast<std::uint32_t>(repeat.repeatIntervalMs);
        port.writeByte(static_cast<std::uint8_t>(repeat.repeatCode));
    }
}
