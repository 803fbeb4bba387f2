#include "protocol/key_output.h"

#include <array>

#include "protocol/scan_code.h"

namespace {

constexpr std::size_t kPumpBufferBytes = ByteQueue::kCapacity;

// A break for a key the host holds; whether the line took it.
bool letGo(SerialPort& port, HeldKeys& held, std::uint8_t code) {
    if (!port.writeByte(breakOf(code))) {
        held.owed.set(code);
        return false;
    }
    held.wentUp(code);
    return true;
}

void write(SerialPort& port, HeldKeys& held, std::uint8_t b) {
    // The host saw the key change only if the byte went out.
    const std::uint8_t code = keyCodeOf(b);
    if (isBreak(b)) {
        if (held.down.test(code)) {
            letGo(port, held, code);
        } else {
            port.writeByte(b);  // a key the host never heard of: nothing owed
        }
        return;
    }
    held.owed.reset(code);  // down again at the keyboard: no break is owed
    if (port.writeByte(b) && code != 0) {
        held.wentDown(code);
    }
}

}  // namespace

void HeldKeys::wentDown(std::uint8_t code) {
    if (!down.test(code)) {
        down.set(code);
        order.push_back(code);
    }
}

void HeldKeys::wentUp(std::uint8_t code) {
    down.reset(code);
    owed.reset(code);
    std::erase(order, code);
}

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
    // Breaks the line refused go before anything typed since: the host must
    // not take a new key with SHIFT still down.
    if (held.owed.any()) {
        sendOwedBreaks(port, held);
    }
    std::array<std::uint8_t, kPumpBufferBytes> buffer;
    const std::size_t count = keyQueue.read(buffer.data(), buffer.size());
    for (std::size_t i = 0; i < count; ++i) {
        sendKey(port, repeat, held, buffer[i], now);
    }
    sendDueRepeat(port, repeat, held, now);
}

void sendKey(SerialPort& port, RepeatState& repeat, HeldKeys& held, std::uint8_t b,
             std::uint32_t now) {
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

void sendDueRepeat(SerialPort& port, RepeatState& repeat, HeldKeys& held, std::uint32_t now) {
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

void retellHeldKeys(SerialPort& port, const HeldKeys& held) {
    for (const std::uint8_t code : held.order) {
        if (!held.owed.test(code)) {
            port.writeByte(code);
        }
    }
}

void releaseHeldKeys(SerialPort& port, RepeatState& repeat, HeldKeys& held) {
    stopRepeat(repeat);
    for (std::size_t code = 0; code < held.down.size(); ++code) {
        if (held.down.test(code)) {
            letGo(port, held, static_cast<std::uint8_t>(code));
        }
    }
}

void sendOwedBreaks(SerialPort& port, HeldKeys& held) {
    for (std::size_t code = 0; code < held.owed.size(); ++code) {
        if (held.owed.test(code) && !letGo(port, held, static_cast<std::uint8_t>(code))) {
            return;  // still full
        }
    }
}

bool announceReady(SerialPort& port, RepeatState& repeat, HeldKeys& held) {
    releaseHeldKeys(port, repeat, held);
    return port.writeByte(kReadyByte);
}
