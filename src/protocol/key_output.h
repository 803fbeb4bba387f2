// Keyboard-to-host half of the X68000 keyboard protocol: scan-code bytes from the
// key queue go out one byte at a time, and the last key pressed auto-repeats.
//
// Wire format: single bytes at 2400 baud; bit 7 clear is a make of the key code in
// bits 0-6, bit 7 set its break. A repeat is another make of the held key, with
// no break in between. No framing, no checksum, no acknowledgement.
//
// Runs on the relay's worker only.
#pragma once

#include <cstdint>

#include "io/byte_queue.h"
#include "io/serial_port.h"
#include "io/ticks.h"

// Typematic state. Times are milliseconds; repeatDue is a tick value that wraps.
struct RepeatState {
    std::int32_t repeatCode = 0;  // key code being repeated (1-0x7F); 0 = none
    std::uint32_t repeatDue = 0;  // tick at which the next repeat is due
    std::int32_t repeatDelayMs = 0;
    std::int32_t repeatIntervalMs = 0;
};

// The host's defaults: delay 500 ms and interval 110 ms (its commands 0x63, 0x74).
constexpr std::int32_t kDefaultRepeatDelayMs = 500;
constexpr std::int32_t kDefaultRepeatIntervalMs = 110;

// Back to power-on: no key repeating, default delay and interval.
void resetRepeat(RepeatState& repeat);

// Stops any repeat but keeps the delay and interval the host chose.
void stopRepeat(RepeatState& repeat);

// One worker pass: drains keyQueue to the port (bytes are drained and the repeat
// state is kept even while the port is closed), then writes at most one repeat
// byte if the held key's repeat is due. A late pass is followed by one repeat per
// pass until the schedule has caught up, since the due time advances from itself.
void pumpKeys(ByteQueue& keyQueue, SerialPort& port, RepeatState& repeat, const TickSource& ticks);
