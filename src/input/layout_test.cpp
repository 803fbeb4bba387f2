// The layouts: every character printed on a US or UK keyboard, typed through
// its legend entry, read back by a model of the X68000's ROM as printed; the
// positional maps that keep every X68000 key within reach.
#include "input/layout.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "support/x68000_typing.h"

namespace {

using Level = X68000Typing::Level;

constexpr std::uint8_t kShift = 0x70;
constexpr std::uint8_t kBreak = 0x80;

// The key line for one tap of key with the user's Shift held around it or
// not: the legend's X68000 key with SHIFT changed around it and put back, or,
// without an entry, the key's place.
std::vector<std::uint8_t> tap(Layout layout, int key, bool userShift) {
    const LegendKey& legend = legendKeys(layout)[static_cast<std::size_t>(key)];
    const TypedKey typed = userShift ? legend.shifted : legend.plain;
    const std::uint8_t code =
        typed.code != 0 ? typed.code : layoutKeyMap(layout)[static_cast<std::size_t>(key)];
    const bool down =
        typed.shift == ShiftNeed::AsHeld ? userShift : typed.shift == ShiftNeed::Added;
    const auto shift = [](bool make) { return make ? kShift : std::uint8_t{kShift | kBreak}; };
    std::vector<std::uint8_t> bytes;
    if (userShift) {
        bytes.push_back(shift(true));
    }
    if (down != userShift) {
        bytes.push_back(shift(down));
    }
    bytes.push_back(code);
    bytes.push_back(code | kBreak);
    if (down != userShift) {
        bytes.push_back(shift(userShift));
    }
    if (userShift) {
        bytes.push_back(shift(false));
    }
    return bytes;
}

TEST(Layout, TheX68000sCharactersAreTheRomsAndTheKeypadAddsNone) {
    const X68000Typing rom;
    std::set<std::uint8_t> mainBlock;
    for (std::uint8_t code = 0x01; code <= 0x35; ++code) {
        for (const bool shift : {false, true}) {
            const std::uint8_t c = x68000Character(code, shift);
            EXPECT_EQ(c, rom.character(code, shift ? Level::Shift : Level::Plain).value_or(0))
                << "code 0x" << std::hex << int{code} << (shift ? " with SHIFT" : "");
            mainBlock.insert(c);
        }
    }
    for (std::uint8_t code = 0x36; code < 0x80; ++code) {
        for (const Level level : {Level::Plain, Level::Shift}) {
            const auto c = rom.character(code, level);
            if (c && *c >= 0x20 && *c < 0x7F) {
                EXPECT_TRUE(mainBlock.contains(*c)) << "code 0x" << std::hex << int{code};
            }
        }
    }
}

TEST(Layout, EveryCharacterOnAUsOrUkKeyboardReadsBackAsPrintedSaveTheX68000sMissingOnes) {
    const std::map<Layout, std::set<char32_t>> lacks = {{Layout::Us, {}},
                                                        {Layout::Uk, {U'\u00A3', U'\u00AC'}}};
    for (const auto& [layout, lacked] : lacks) {
        SCOPED_TRACE(layoutName(layout));
        X68000Typing x68000;
        std::string printed;
        std::map<char32_t, int> onKeys;
        std::set<char32_t> lacking;
        for (const KeyTop& top : keyTops(layout)) {
            const LegendKey& legend = legendKeys(layout)[static_cast<std::size_t>(top.key)];
            for (const bool shift : {false, true}) {
                const char32_t c = shift ? top.shifted : top.plain;
                ++onKeys[c];
                if ((shift ? legend.shifted : legend.plain).code == 0) {
                    lacking.insert(c);
                    continue;
                }
                printed.push_back(static_cast<char>(c));
                x68000.receive(tap(layout, top.key, shift));
            }
        }
        EXPECT_EQ(x68000.typed(), printed);
        EXPECT_EQ(lacking, lacked);
        for (char32_t c = 0x21; c < 0x7F; ++c) {
            EXPECT_EQ(onKeys[c], 1) << "character 0x" << std::hex << int(c);
        }
    }
}

TEST(Layout, JisIsTheDefaultMapAndUsAndUkKeepEveryX68000KeyAndAddYenAndRo) {
    EXPECT_EQ(layoutKeyMap(Layout::Jis), defaultInputKeyMap());
    EXPECT_TRUE(std::ranges::all_of(legendKeys(Layout::Jis),
                                    [](const LegendKey& legend) { return legend == LegendKey{}; }));
    // The X68000 keys a keyboard without a JIS keyboard's own keys reaches.
    const auto reached = [](InputKeyMap map) {
        for (const int key : {KEY_YEN, KEY_RO, KEY_MUHENKAN, KEY_HENKAN, KEY_KATAKANAHIRAGANA,
                              KEY_ZENKAKUHANKAKU, KEY_KPJPCOMMA}) {
            map[static_cast<std::size_t>(key)] = 0;
        }
        return std::set<std::uint8_t>(map.begin(), map.end());
    };
    for (const Layout layout : {Layout::Us, Layout::Uk}) {
        std::set<std::uint8_t> wanted = reached(defaultInputKeyMap());
        wanted.insert({0x0E, 0x34});
        EXPECT_EQ(reached(layoutKeyMap(layout)), wanted) << layoutName(layout);
    }
}

TEST(Layout, IsNamedInAnyLetterCase) {
    EXPECT_EQ(layoutNamed("jis"), Layout::Jis);
    EXPECT_EQ(layoutNamed("US"), Layout::Us);
    EXPECT_EQ(layoutNamed("Uk"), Layout::Uk);
    EXPECT_EQ(layoutNamed("u"), std::nullopt);
    EXPECT_STREQ(layoutName(Layout::Uk), "uk");
}

}  // namespace
