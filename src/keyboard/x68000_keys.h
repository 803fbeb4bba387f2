// The X68000 keyboard's keys by name, and its LEDs as the host's LED mask
// holds them: the names a key map file gives the X68000's keys in, and the
// bits a back-end reads to light its keyboard's lamps.
//
// One name per key, after its key top, in ASCII: letters and digits as they
// are (A, 7), the keypad's keys with KP in front (KP7, KPENTER), and the
// X68000's own keys by their romanised labels (KANA for かな, ROMAJI for
// ローマ字, CODE for コード入力, KIGOU for 記号入力, TOUROKU for 登録, HIRAGANA
// for ひらがな, ZENKAKU for 全角). The list is the manual page's.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

struct X68000Key {
    const char* name;   // upper case
    std::uint8_t code;  // 0x01-0x74
};

// Every key of the X68000 keyboard, in key-code order.
std::span<const X68000Key> x68000Keys();

// The code of the key called name, in any letter case; nothing for a name
// that is not in the list.
std::optional<std::uint8_t> x68000KeyCode(std::string_view name);

// The host's LED mask (host command 0x80-0xFF, bit clear: lit; the relay
// keeps it with bit set: lit): bit 0 かな, 1 ローマ字, 2 コード入力, 3 CAPS,
// 4 INS, 5 ひらがな, 6 全角.
inline constexpr std::int32_t kLedKana = 1 << 0;
inline constexpr std::int32_t kLedRomaji = 1 << 1;
inline constexpr std::int32_t kLedCode = 1 << 2;
inline constexpr std::int32_t kLedCaps = 1 << 3;
inline constexpr std::int32_t kLedIns = 1 << 4;
inline constexpr std::int32_t kLedHiragana = 1 << 5;
inline constexpr std::int32_t kLedZenkaku = 1 << 6;
