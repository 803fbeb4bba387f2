// One keyboard's keys into the X68000's makes and breaks: several keys on one
// X68000 key, and SHIFT around a US keyboard's legends.
#include "input/key_translator.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "input/keymap_file.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Key changes (code, 1 down or 0 up) in turn; what the X68000 gets.
Bytes typed(KeyTranslator& keys, std::initializer_list<std::pair<unsigned, int>> changes) {
    Bytes out;
    for (const auto& [code, down] : changes) {
        keys.key(code, down != 0, out);
    }
    return out;
}

TEST(KeyTranslator, AnX68000KeyGoesUpWithTheLastKeyOnIt) {
    KeyTranslator keys(defaultInputKeyMap());
    EXPECT_EQ(typed(keys, {{KEY_RIGHTSHIFT, 1},
                           {KEY_LEFTSHIFT, 1},
                           {KEY_RIGHTSHIFT, 0},
                           {KEY_A, 1},
                           {KEY_A, 0},
                           {KEY_LEFTSHIFT, 0}}),
              (Bytes{0x70, 0x1E, 0x9E, 0xF0}));
    // A key let go of whose press it never saw gives nothing; after a reset
    // nothing is taken as down.
    EXPECT_EQ(typed(keys, {{KEY_B, 0}, {KEY_C, 1}}), Bytes{0x2C});
    keys.reset();
    EXPECT_EQ(typed(keys, {{KEY_C, 0}}), Bytes{});
}

TEST(KeyTranslator, AUsLegendGetsItsShiftAndShiftComesBackWithTheNextKey) {
    KeyTranslator keys(layoutKeyMap(Layout::Us), Layout::Us);
    // Shift+2 is @, the X68000's @ key without SHIFT; SHIFT is down again
    // before the next key the user types with Shift held, not as a make of
    // its own (that would start SHIFT's auto-repeat).
    EXPECT_EQ(typed(keys, {{KEY_LEFTSHIFT, 1}, {KEY_2, 1}, {KEY_2, 0}}),
              (Bytes{0x70, 0xF0, 0x1B, 0x9B}));
    EXPECT_EQ(typed(keys, {{KEY_A, 1}, {KEY_A, 0}, {KEY_LEFTSHIFT, 0}}),
              (Bytes{0x70, 0x1E, 0x9E, 0xF0}));
    // ' is SHIFT with 7 on the X68000: the SHIFT added goes with the key.
    EXPECT_EQ(typed(keys, {{KEY_APOSTROPHE, 1}, {KEY_APOSTROPHE, 0}}),
              (Bytes{0x70, 0x08, 0x88, 0xF0}));
    // With Ctrl held keys keep their places: Ctrl+2 is CTRL with 2.
    EXPECT_EQ(typed(keys, {{KEY_LEFTCTRL, 1},
                           {KEY_LEFTSHIFT, 1},
                           {KEY_2, 1},
                           {KEY_2, 0},
                           {KEY_LEFTSHIFT, 0},
                           {KEY_LEFTCTRL, 0}}),
              (Bytes{0x71, 0x70, 0x03, 0x83, 0xF0, 0xF1}));
    // While the X68000's かな LED is lit, keys go by place too.
    keys.setKana(true);
    EXPECT_EQ(typed(keys, {{KEY_APOSTROPHE, 1}, {KEY_APOSTROPHE, 0}}), (Bytes{0x28, 0xA8}));
}

TEST(KeyTranslator, AKeyTheMapFileMovesLosesItsLegend) {
    InputKeyMap map = layoutKeyMap(Layout::Us);
    ASSERT_FALSE(applyKeymap("APOSTROPHE KANA\n", "us.map", map));
    KeyTranslator keys(map, Layout::Us);
    EXPECT_EQ(typed(keys, {{KEY_APOSTROPHE, 1}, {KEY_APOSTROPHE, 0}}), (Bytes{0x5A, 0xDA}));
}

}  // namespace
