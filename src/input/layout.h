// Keyboard layouts (--layout=jis|us|uk): how a US or UK keyboard's keys type
// the characters printed on them on the X68000.
//
// Jis is the positional default map (input_key_map.h). With Us or Uk, a key
// whose key top prints a character types that character as the X68000 has it
// in its ordinary mode (かな off, CAPS off): the X68000 key that gives it, with
// SHIFT released or added around it where the X68000 has the character on the
// other shift level (US Shift+2 '@' is the X68000's @ key without SHIFT). The
// positional map of the layout (layoutKeyMap) serves the keys without such a
// legend entry, every key with Ctrl held (Ctrl+C is still C), and every key
// while the X68000's かな LED is lit (かな are typed by position). A character
// the X68000 lacks (UK's £ and ¬) has no legend entry: its key stays
// positional at that level.
//
// The tables are built once, on first use, and never change: any thread may
// read them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "input/input_key_map.h"

enum class Layout { Jis, Us, Uk };

// The layout called name ("jis", "us", "uk", in any letter case), nothing for
// another name.
std::optional<Layout> layoutNamed(std::string_view name);

// The layout's name as layoutNamed() takes it, in lower case.
const char* layoutName(Layout layout);

// What SHIFT must be on the X68000 for a key's character, relative to the
// user's Shift at that level: as the user holds it, released, or added.
enum class ShiftNeed : std::uint8_t { AsHeld, Released, Added };

// The X68000 key that types a character, and its SHIFT. code 0: no entry.
struct TypedKey {
    std::uint8_t code = 0;
    ShiftNeed shift = ShiftNeed::AsHeld;
    bool operator==(const TypedKey&) const = default;
};

// A key's two legends: the key alone, and with the user's Shift held.
struct LegendKey {
    TypedKey plain;
    TypedKey shifted;
    bool operator==(const LegendKey&) const = default;
};

// Per Linux key code: for the keys of the main block whose key top prints a
// character on a keyboard of the layout, the X68000 key for each level. All
// entries are zero for Jis; the keypad's keys have none (the X68000's keypad
// prints the same), and neither does a level whose character the X68000 lacks.
const std::array<LegendKey, kInputKeyCodes>& legendKeys(Layout layout);

// The positional map of the layout: defaultInputKeyMap(), and for Us and Uk
// the X68000's ¥ on KEY_GRAVE (the key left of 1, whose 全角 stays on Right
// Super) and ろ/_ on KEY_102ND (the ISO key left of Z, which UK keyboards
// have and US ones of ISO shape), so that with Ctrl and in かな the keys of a
// JIS keyboard a US or UK one lacks are within reach too (¥ is ー in かな).
// Jis: exactly defaultInputKeyMap().
InputKeyMap layoutKeyMap(Layout layout);

// A key top of the layout: the Linux key and the characters printed on it, as
// Unicode code points, alone and with Shift. Empty for Jis.
struct KeyTop {
    int key;
    char32_t plain;
    char32_t shifted;
};
std::span<const KeyTop> keyTops(Layout layout);

// The character the X68000 types for a key of its main block (0x01-0x35) in
// its ordinary mode, alone or with SHIFT (its own character set: 0x5C is its
// ¥, 0x7E its overline); 0 where it types none or for another code.
std::uint8_t x68000Character(std::uint8_t code, bool withShift);
