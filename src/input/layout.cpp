#include "input/layout.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

#include "io/ascii_case.h"

namespace {

using namespace std::string_view_literals;

// What the genuine ROM types for the X68000's main block, codes 0x00-0x35
// (0x00 is no key), alone and with SHIFT, CAPS and かな off. layout_test.cpp
// holds both strings to the ROM's table (tests/data/x68000_key_chars.tsv),
// which also shows that the keypad has no character the main block lacks.
constexpr std::string_view kAlone =
    "\0"
    "\x1b"
    "1234567890-^\\"
    "\b\t"
    "qwertyuiop@["
    "\r"
    "asdfghjkl;:]"
    "zxcvbnm,./"
    "\0 "sv;
constexpr std::string_view kWithShift =
    "\0"
    "\x1b"
    "!\"#$%&'()"
    "\0"
    "=~|"
    "\b\t"
    "QWERTYUIOP`{"
    "\r"
    "ASDFGHJKL+*}"
    "ZXCVBNM<>?_ "sv;
static_assert(kAlone.size() == 0x36 && kWithShift.size() == 0x36);

// The main blocks' key tops, row by row: the Linux keys, then what each
// prints alone and with Shift. US: ANSI 104 keys; UK: ISO 105 keys, with '#'
// '~' left of Enter (Linux's KEY_BACKSLASH) and '\' '|' left of Z.
constexpr int kUsKeys[] = {
    KEY_GRAVE,     KEY_1,          KEY_2,         KEY_3,          KEY_4,         KEY_5,     KEY_6,
    KEY_7,         KEY_8,          KEY_9,         KEY_0,          KEY_MINUS,     KEY_EQUAL, KEY_Q,
    KEY_W,         KEY_E,          KEY_R,         KEY_T,          KEY_Y,         KEY_U,     KEY_I,
    KEY_O,         KEY_P,          KEY_LEFTBRACE, KEY_RIGHTBRACE, KEY_BACKSLASH, KEY_A,     KEY_S,
    KEY_D,         KEY_F,          KEY_G,         KEY_H,          KEY_J,         KEY_K,     KEY_L,
    KEY_SEMICOLON, KEY_APOSTROPHE, KEY_Z,         KEY_X,          KEY_C,         KEY_V,     KEY_B,
    KEY_N,         KEY_M,          KEY_COMMA,     KEY_DOT,        KEY_SLASH,
};
constexpr std::u32string_view kUsAlone = U"`1234567890-=qwertyuiop[]\\asdfghjkl;'zxcvbnm,./";
constexpr std::u32string_view kUsWithShift = U"~!@#$%^&*()_+QWERTYUIOP{}|ASDFGHJKL:\"ZXCVBNM<>?";

constexpr int kUkKeys[] = {
    KEY_GRAVE,      KEY_1,     KEY_2, KEY_3,     KEY_4,         KEY_5,
    KEY_6,          KEY_7,     KEY_8, KEY_9,     KEY_0,         KEY_MINUS,
    KEY_EQUAL,      KEY_Q,     KEY_W, KEY_E,     KEY_R,         KEY_T,
    KEY_Y,          KEY_U,     KEY_I, KEY_O,     KEY_P,         KEY_LEFTBRACE,
    KEY_RIGHTBRACE, KEY_A,     KEY_S, KEY_D,     KEY_F,         KEY_G,
    KEY_H,          KEY_J,     KEY_K, KEY_L,     KEY_SEMICOLON, KEY_APOSTROPHE,
    KEY_BACKSLASH,  KEY_102ND, KEY_Z, KEY_X,     KEY_C,         KEY_V,
    KEY_B,          KEY_N,     KEY_M, KEY_COMMA, KEY_DOT,       KEY_SLASH,
};
// \u00AC is ¬, \u00A3 £.
constexpr std::u32string_view kUkAlone = U"`1234567890-=qwertyuiop[]asdfghjkl;'#\\zxcvbnm,./";
constexpr std::u32string_view kUkWithShift =
    U"\u00AC!\"\u00A3$%^&*()_+QWERTYUIOP{}ASDFGHJKL:@~|ZXCVBNM<>?";

static_assert(std::size(kUsKeys) == kUsAlone.size() && kUsAlone.size() == kUsWithShift.size());
static_assert(std::size(kUkKeys) == kUkAlone.size() && kUkAlone.size() == kUkWithShift.size());

std::vector<KeyTop> buildKeyTops(std::span<const int> keys, std::u32string_view alone,
                                 std::u32string_view withShift) {
    std::vector<KeyTop> tops;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        tops.push_back({keys[i], alone[i], withShift[i]});
    }
    return tops;
}

// The X68000 key and SHIFT that type c, for a user holding Shift or not;
// nothing for a character the X68000 lacks.
TypedKey typing(char32_t c, bool userShift) {
    if (c < 0x20 || c > 0x7E) {
        return {};  // the X68000's upper half is katakana, not Latin-1
    }
    for (std::uint8_t code = 0x01; code <= 0x35; ++code) {
        for (const bool withShift : {false, true}) {
            if (x68000Character(code, withShift) == c) {
                const ShiftNeed need = withShift == userShift ? ShiftNeed::AsHeld
                                       : withShift            ? ShiftNeed::Added
                                                              : ShiftNeed::Released;
                return {code, need};
            }
        }
    }
    return {};
}

std::array<LegendKey, kInputKeyCodes> buildLegends(std::span<const KeyTop> tops) {
    std::array<LegendKey, kInputKeyCodes> legends{};
    for (const KeyTop& top : tops) {
        legends[static_cast<std::size_t>(top.key)] = {typing(top.plain, false),
                                                      typing(top.shifted, true)};
    }
    return legends;
}

}  // namespace

std::optional<Layout> layoutNamed(std::string_view name) {
    for (const Layout layout : {Layout::Jis, Layout::Us, Layout::Uk}) {
        const std::string_view known = layoutName(layout);
        if (name.size() == known.size() &&
            std::equal(name.begin(), name.end(), known.begin(),
                       [](char a, char b) { return asciiLower(a) == b; })) {
            return layout;
        }
    }
    return std::nullopt;
}

const char* layoutName(Layout layout) {
    switch (layout) {
        case Layout::Us:
            return "us";
        case Layout::Uk:
            return "uk";
        case Layout::Jis:
            break;
    }
    return "jis";
}

namespace {

// The one of three made for the layout.
template <typename Table>
const Table& ofLayout(Layout layout, const Table& jis, const Table& us, const Table& uk) {
    return layout == Layout::Us ? us : layout == Layout::Uk ? uk : jis;
}

}  // namespace

std::span<const KeyTop> keyTops(Layout layout) {
    static const std::vector<KeyTop> jis;
    static const std::vector<KeyTop> us = buildKeyTops(kUsKeys, kUsAlone, kUsWithShift);
    static const std::vector<KeyTop> uk = buildKeyTops(kUkKeys, kUkAlone, kUkWithShift);
    return ofLayout(layout, jis, us, uk);
}

const std::array<LegendKey, kInputKeyCodes>& legendKeys(Layout layout) {
    static const auto jis = buildLegends(keyTops(Layout::Jis));
    static const auto us = buildLegends(keyTops(Layout::Us));
    static const auto uk = buildLegends(keyTops(Layout::Uk));
    return ofLayout(layout, jis, us, uk);
}

InputKeyMap layoutKeyMap(Layout layout) {
    InputKeyMap map = defaultInputKeyMap();
    if (layout != Layout::Jis) {
        map[KEY_GRAVE] = 0x0E;  // ¥
        map[KEY_102ND] = 0x34;  // ろ/_
    }
    return map;
}

std::uint8_t x68000Character(std::uint8_t code, bool withShift) {
    const std::string_view table = withShift ? kWithShift : kAlone;
    return code < table.size() ? static_cast<std::uint8_t>(table[code]) : 0;
}
