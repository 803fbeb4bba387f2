// The unit both halves of the X68000 keyboard line speak: one scan-code byte,
// bits 0-6 the key code (1-0x7F), bit 7 set for a release (break).
#pragma once

#include <cstdint>

constexpr std::uint8_t kBreakBit = 0x80;
constexpr std::uint8_t kKeyCodeMask = 0x7F;

constexpr bool isBreak(std::uint8_t scanCode) {
    return (scanCode & kBreakBit) != 0;
}
constexpr std::uint8_t keyCodeOf(std::uint8_t scanCode) {
    return scanCode & kKeyCodeMask;
}
constexpr std::uint8_t breakOf(std::uint8_t code) {
    return static_cast<std::uint8_t>(code | kBreakBit);
}
