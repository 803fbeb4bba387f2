#include "input/scan_code_keys.h"

#include <linux/input-event-codes.h>

#include <array>
#include <utility>

namespace {

constexpr unsigned kExtended = 0x100;

// Per scan code, plain (0x00-0xFF) and extended (0x100-0x1FF): the key code.
using Table = std::array<std::uint16_t, 0x200>;

Table build() {
    Table table{};
    // The PC/AT keyboard's keys: set 1 and Linux number them alike.
    for (unsigned code = KEY_ESC; code <= KEY_KPDOT; ++code) {
        table[code] = static_cast<std::uint16_t>(code);
    }
    constexpr std::pair<unsigned, unsigned> kEntries[] = {
        // Where the hook or the keyboard differs from the plain numbering.
        {0x45, KEY_PAUSE},
        {kExtended | 0x45, KEY_NUMLOCK},
        {kExtended | 0x46, KEY_PAUSE},  // Ctrl+Pause: Break
        {0x54, KEY_SYSRQ},              // Alt+Print Screen
        {kExtended | 0x37, KEY_SYSRQ},  // Print Screen
        {kExtended | 0x36, KEY_RIGHTSHIFT},
        {0x56, KEY_102ND},
        {0x57, KEY_F11},
        {0x58, KEY_F12},
        {0x59, KEY_KPEQUAL},
        {0x5C, KEY_KPJPCOMMA},
        {0x7E, KEY_KPCOMMA},
        // The JIS keyboard's own keys.
        {0x70, KEY_KATAKANAHIRAGANA},
        {0x73, KEY_RO},
        {0x79, KEY_HENKAN},
        {0x7B, KEY_MUHENKAN},
        {0x7D, KEY_YEN},
        // The Korean keyboard's.
        {0xF1, KEY_HANJA},
        {0xF2, KEY_HANGEUL},
        // F13 to F24.
        {0x64, KEY_F13},
        {0x65, KEY_F14},
        {0x66, KEY_F15},
        {0x67, KEY_F16},
        {0x68, KEY_F17},
        {0x69, KEY_F18},
        {0x6A, KEY_F19},
        {0x6B, KEY_F20},
        {0x6C, KEY_F21},
        {0x6D, KEY_F22},
        {0x6E, KEY_F23},
        {0x76, KEY_F24},
        // The grey keys.
        {kExtended | 0x1C, KEY_KPENTER},
        {kExtended | 0x1D, KEY_RIGHTCTRL},
        {kExtended | 0x35, KEY_KPSLASH},
        {kExtended | 0x38, KEY_RIGHTALT},
        {kExtended | 0x47, KEY_HOME},
        {kExtended | 0x48, KEY_UP},
        {kExtended | 0x49, KEY_PAGEUP},
        {kExtended | 0x4B, KEY_LEFT},
        {kExtended | 0x4D, KEY_RIGHT},
        {kExtended | 0x4F, KEY_END},
        {kExtended | 0x50, KEY_DOWN},
        {kExtended | 0x51, KEY_PAGEDOWN},
        {kExtended | 0x52, KEY_INSERT},
        {kExtended | 0x53, KEY_DELETE},
        {kExtended | 0x5B, KEY_LEFTMETA},
        {kExtended | 0x5C, KEY_RIGHTMETA},
        {kExtended | 0x5D, KEY_COMPOSE},  // Menu, as Linux names a PC keyboard's
        {kExtended | 0x5E, KEY_POWER},
        {kExtended | 0x5F, KEY_SLEEP},
        {kExtended | 0x63, KEY_WAKEUP},
        // Media and browser keys.
        {kExtended | 0x10, KEY_PREVIOUSSONG},
        {kExtended | 0x19, KEY_NEXTSONG},
        {kExtended | 0x20, KEY_MUTE},
        {kExtended | 0x21, KEY_CALC},
        {kExtended | 0x22, KEY_PLAYPAUSE},
        {kExtended | 0x24, KEY_STOPCD},
        {kExtended | 0x2E, KEY_VOLUMEDOWN},
        {kExtended | 0x30, KEY_VOLUMEUP},
        {kExtended | 0x32, KEY_HOMEPAGE},
        {kExtended | 0x65, KEY_SEARCH},
        {kExtended | 0x66, KEY_BOOKMARKS},
        {kExtended | 0x67, KEY_REFRESH},
        {kExtended | 0x68, KEY_STOP},
        {kExtended | 0x69, KEY_FORWARD},
        {kExtended | 0x6A, KEY_BACK},
        {kExtended | 0x6B, KEY_COMPUTER},
        {kExtended | 0x6C, KEY_MAIL},
        {kExtended | 0x6D, KEY_MEDIA},
    };
    for (const auto& [scan, key] : kEntries) {
        table[scan] = static_cast<std::uint16_t>(key);
    }
    return table;
}

}  // namespace

unsigned keyAtScanCode(std::uint32_t scanCode, bool extended) {
    static const Table table = build();
    if (scanCode > 0xFF) {
        return 0;
    }
    return table[(extended ? kExtended : 0) | scanCode];
}
