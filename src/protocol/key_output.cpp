#include "protocol/key_output.h"

#include <array>

#include "protocol/scan_code.h"

namespace {

constexpr std::size_t kPumpBufferBytes = ByteQueue::kCapacity;

void write(SerialPort& port, HeldKeys& held, std::uint8_t b) {
    // The host saw the key change only if the byte went out.
    if (port.writeByte(b) && keyCodeOf(b) != 0) {
        held.set(keyCodeOf(b), !isBreak(b));
    }
}

}  // namespace

void resetRepeat(RepeatState& repeat) {
    repeat = {0, 0, kDefaultRepeatDelayMs, kDefaultRepeatIntervalMs};
}

void stopRepeat(RepeatState& repeat) {
    repeat.repeatCode = 0;
    repeat.repeatDue = 0;
}

bool repeatIsDue(const RepeatState& repeat, std::uint32_t now) {
    // Due when the signed distance to the due time is zero or negative, so the
    // comparison holds across the wrap of the 32-bit tick.
    return repeat.repeatCode != 0 && static_cast<std::int32_t>(repeat.repeatDue - now) <= 0;
}

std::int32_t msUntilRepeat(const RepeatState& repeat, std::uint32_t now) {
    if (repeat.repeatCode == 0) {
        return -1;
    }
    const auto left = static_cast<std::int32_t>(repeat.repeatDue - now);
    return left > 0 ? left : 0;
}

void pumpKeys(ByteQueue& keyQueue, SerialPort& port, RepeatState& repeat, HeldKeys& held,
              std::uint32_t now) {
    std::array<std::uint8_t, kPumpBufferBytes> buffer;
    const std::size_t count = keyQueue.read(buffer.data(), buffer.size());
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
        write(port, held, b);
    }
    if (repeatIsDue(repeat, now)) {
        const auto interval = static_cast<std::uint32_t>(repeat.repeatIntervalMs);
        // On schedule, the next repeat follows from this one's due time, so the
        // rhythm does not drift with the worker's wake-ups; a whole interval late
        // or more, it follows from now.
        const bool late = now - repeat.repeatDue >= interval;
        repeat.repeatDue = (late ? now : repeat.repeatDue) + interval;
        write(port, held, static_cast<std::uint8_t>(repeat.repeatCode));
    }
}

void releaseHeldKeys(SerialPort& port, RepeatState& repeat, HeldKeys& held) {
    stopRepeat(repeat);
    for (std::size_t code = 0; code < held.size(); ++code) {
        if (held.test(code) && port.writeByte(breakOf(static_cast<std::uint8_t>(code)))) {
            held.reset(code);
        }
    }
}

bool announceReady(SerialPort& port, RepeatState& repeat, HeldKeys& held) {
    releaseHeldKeys(port, repeat, held);
    return port.writeByte(kReadyByte);
}
