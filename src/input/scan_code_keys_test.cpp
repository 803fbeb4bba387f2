// The scan codes a low-level hook gives, as the input layer's key codes.
#include "input/scan_code_keys.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <map>
#include <set>
#include <vector>

#include "input/input_key_map.h"

namespace {

TEST(ScanCodeKeys, TheHooksOwnCodesAndTheJisKeysAreTheirKeys) {
    struct Case {
        unsigned scan;
        bool extended;
        unsigned key;
    };
    const Case cases[] = {
        {0x01, false, KEY_ESC},
        {0x1E, false, KEY_A},
        {0x53, false, KEY_KPDOT},
        {0x45, false, KEY_PAUSE},  // the hook's Pause, not set 1's Num Lock
        {0x45, true, KEY_NUMLOCK},
        {0x46, true, KEY_PAUSE},  // Ctrl+Pause
        {0x46, false, KEY_SCROLLLOCK},
        {0x37, true, KEY_SYSRQ},  // Print Screen
        {0x37, false, KEY_KPASTERISK},
        {0x36, false, KEY_RIGHTSHIFT},
        {0x36, true, KEY_RIGHTSHIFT},
        {0x1D, true, KEY_RIGHTCTRL},
        {0x1C, true, KEY_KPENTER},
        {0x5D, true, KEY_COMPOSE},
        {0x29, false, KEY_GRAVE},  // 半角/全角
        {0x70, false, KEY_KATAKANAHIRAGANA},
        {0x73, false, KEY_RO},
        {0x79, false, KEY_HENKAN},
        {0x7B, false, KEY_MUHENKAN},
        {0x7D, false, KEY_YEN},
        {0x2A, true, 0},    // a fake shift
        {0x21D, false, 0},  // the Ctrl before AltGr
        {0x1E, true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(keyAtScanCode(c.scan, c.extended), c.key)
            << std::hex << c.scan << (c.extended ? " extended" : "");
    }
}

TEST(ScanCodeKeys, EveryX68000KeyOfTheMapIsReachedAndNoKeyHasTwoPlacesButTheKnownOnes) {
    // Where each key is, and which X68000 keys those places give.
    std::map<unsigned, std::vector<unsigned>> places;
    std::set<std::uint8_t> reached;
    for (unsigned position = 0; position < 0x200; ++position) {
        const unsigned key = keyAtScanCode(position & 0xFF, position > 0xFF);
        if (key != 0) {
            ASSERT_LT(key, kInputKeyCodes);
            places[key].push_back(position);
            reached.insert(defaultInputKeyMap()[key]);
        }
    }
    for (const auto& [key, at] : places) {
        if (at.size() > 1) {
            EXPECT_TRUE(key == KEY_PAUSE || key == KEY_SYSRQ || key == KEY_RIGHTSHIFT)
                << "key " << key << " at " << at.size() << " scan codes";
        }
    }
    for (std::size_t key = 0; key < kInputKeyCodes; ++key) {
        if (const std::uint8_t x68000 = defaultInputKeyMap()[key]; x68000 != 0) {
            EXPECT_TRUE(reached.count(x68000)) << "X68000 key " << std::hex << int{x68000}
                                               << " has no scan code (Linux key " << key << ")";
        }
    }
}

}  // namespace
