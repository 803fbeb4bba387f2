// Host-to-keyboard half of the X68000 keyboard protocol: single command bytes.
//
//   0x40/0x41  the mouse's MSCTRL line low / high (the keyboard carries it)
//   0x54-0x57  LED brightness, level = byte & 3 (0 brightest, 3 dimmest)
//   0x60-0x6F  repeat delay    = 200 + 100 n ms  (n = byte & 0x0F)
//   0x70-0x7F  repeat interval = 30 + 5 n^2 ms
//   0x80-0xFF  LED state: bit i clear means LED i lit
//   0x49       keyboard enable: changes nothing here, but the relay answers it
//              by telling the keys still held again (retellHeldKeys())
//   others     ignored (0x48, keyboard disable, among them: no ROM sends it,
//              and a keyboard dead until the next reboot after a glitch on
//              the line would be worse than one that types)
//
// A real X68000 says far more than it sets: at power-on (every ROM, 1.0 to
// 1.3) FF FF 41 49 59 51 5C 63 72, then, while its mouse task runs, 0x41 and
// 0x40 in turn every 10 ms. The 0x49 of that start is what tells a keyboard
// that the machine was reset with keys held (OPT.1 at boot, an XF key): it
// sends their makes again, or the new machine never sees them down.
#pragma once

#include <cstdint>

#include "protocol/key_output.h"

// The keyboard's LED state as the host last set it.
struct LedState {
    std::int32_t ledBrightness = 0;  // 0-3
    std::int32_t ledMask = 0;        // 7 bits, bit i set: LED i lit
    bool operator==(const LedState&) const = default;
};

// The mouse's MSCTRL line, which the host drives through the keyboard: 0x41
// raises it, 0x40 lowers it, and each fall from high asks the mouse for one
// packet. Its level is Unknown until the host first sets it, and only a fall
// from a high the relay heard counts, so a 0x40 from a host that was running
// before the relay heard it asks for nothing.
struct MsctrlState {
    enum class Level : std::uint8_t { Unknown, High, Low };
    Level level = Level::Unknown;
    // Falls from high so far, a count that wraps: whoever answers them keeps
    // the count it has answered and serves the unsigned difference.
    std::uint32_t falls = 0;
};

// The host's keyboard enable, which every ROM sends as it starts.
constexpr std::uint8_t kKeyboardEnable = 0x49;

// Applies one command byte. Returns true when the LED brightness or mask
// changed, that is when the keyboard's LED report must be sent again.
bool applyHostCommand(std::uint8_t byte, RepeatState& repeat, LedState& leds, MsctrlState& msctrl);
