// Host-to-keyboard half of the X68000 keyboard protocol: single command bytes.
//
//   0x54-0x57  LED brightness, level = byte & 3 (0 brightest, 3 dimmest)
//   0x60-0x6F  repeat delay    = 200 + 100 n ms  (n = byte & 0x0F)
//   0x70-0x7F  repeat interval = 30 + 5 n^2 ms
//   0x80-0xFF  LED state: bit i clear means LED i lit
//   others     ignored
#pragma once

#include <cstdint>

#include "protocol/key_output.h"

// The keyboard's LED state as the host last set it.
struct LedState {
    std::int32_t ledBrightness = 0;  // 0-3
    std::int32_t ledMask = 0;        // 7 bits, bit i set: LED i lit
};

// Applies one command byte. Returns true when the LED brightness or mask
// changed, that is when the keyboard's LED report must be sent again.
bool applyHostCommand(std::uint8_t byte, RepeatState& repeat, LedState& leds);
