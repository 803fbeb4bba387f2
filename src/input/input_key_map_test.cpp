// The default map of Linux keys: positional, so that every key a JIS keyboard
// shares with the X68000 Z keyboard sends what that keyboard's key sends, and
// the X68000's own keys where the converters put them.
#include "input/input_key_map.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <map>

#include "support/expected_scan_codes.h"

namespace {

// Linux's own translation of HID keyboard usages (drivers/hid/hid-input.c,
// hid_keyboard[]) for the usages the X68000 Z keyboard has a key for.
std::map<unsigned, int> linuxKeyOfUsage() {
    std::map<unsigned, int> keys;
    const int letters[] = {KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                           KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                           KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
    for (unsigned i = 0; i < 26; ++i) {
        keys[0x04 + i] = letters[i];
    }
    for (unsigned i = 0; i < 10; ++i) {
        keys[0x1E + i] = KEY_1 + static_cast<int>(i);  // 1..9, 0
        keys[0x3A + i] = KEY_F1 + static_cast<int>(i);
    }
    const std::pair<unsigned, int> rest[] = {
        {0x28, KEY_ENTER},     {0x29, KEY_ESC},        {0x2A, KEY_BACKSPACE},
        {0x2B, KEY_TAB},       {0x2C, KEY_SPACE},      {0x2D, KEY_MINUS},
        {0x2E, KEY_EQUAL},     {0x2F, KEY_LEFTBRACE},  {0x30, KEY_RIGHTBRACE},
        {0x32, KEY_BACKSLASH}, {0x33, KEY_SEMICOLON},  {0x34, KEY_APOSTROPHE},
        {0x35, KEY_GRAVE},     {0x36, KEY_COMMA},      {0x37, KEY_DOT},
        {0x38, KEY_SLASH},     {0x39, KEY_CAPSLOCK},   {0x44, KEY_F11},
        {0x45, KEY_F12},       {0x46, KEY_SYSRQ},      {0x47, KEY_SCROLLLOCK},
        {0x48, KEY_PAUSE},     {0x49, KEY_INSERT},     {0x4A, KEY_HOME},
        {0x4B, KEY_PAGEUP},    {0x4C, KEY_DELETE},     {0x4D, KEY_END},
        {0x4E, KEY_PAGEDOWN},  {0x4F, KEY_RIGHT},      {0x50, KEY_LEFT},
        {0x51, KEY_DOWN},      {0x52, KEY_UP},         {0x53, KEY_NUMLOCK},
        {0x54, KEY_KPSLASH},   {0x55, KEY_KPASTERISK}, {0x56, KEY_KPMINUS},
        {0x57, KEY_KPPLUS},    {0x58, KEY_KPENTER},    {0x59, KEY_KP1},
        {0x5A, KEY_KP2},       {0x5B, KEY_KP3},        {0x5C, KEY_KP4},
        {0x5D, KEY_KP5},       {0x5E, KEY_KP6},        {0x5F, KEY_KP7},
        {0x60, KEY_KP8},       {0x61, KEY_KP9},        {0x62, KEY_KP0},
        {0x63, KEY_KPDOT},     {0x65, KEY_COMPOSE},    {0x67, KEY_KPEQUAL},
        {0x7F, KEY_MUTE},      {0x80, KEY_VOLUMEUP},   {0x81, KEY_VOLUMEDOWN},
        {0x85, KEY_KPCOMMA},   {0x87, KEY_RO},         {0x88, KEY_KATAKANAHIRAGANA},
        {0x89, KEY_YEN},       {0x8A, KEY_HENKAN},     {0x8B, KEY_MUHENKAN},
        {0xE0, KEY_LEFTCTRL},  {0xE1, KEY_LEFTSHIFT},  {0xE2, KEY_LEFTALT},
        {0xE3, KEY_LEFTMETA},  {0xE4, KEY_RIGHTCTRL},  {0xE5, KEY_RIGHTSHIFT},
        {0xE6, KEY_RIGHTALT},  {0xE7, KEY_RIGHTMETA},
    };
    for (const auto& [usage, key] : rest) {
        keys[usage] = key;
    }
    return keys;
}

// Where the PC keyboard's key sends something else than the X68000 Z
// keyboard's key at the same place: the converters' places for the X68000's
// own keys, and the Z keyboard's media keys, which a PC keyboard's do not
// take over.
const std::map<int, std::uint8_t>& convertersKeys() {
    static const std::map<int, std::uint8_t> keys = {
        {KEY_F11, 0x5A},         // かな
        {KEY_F12, 0x5B},         // ローマ字
        {KEY_SYSRQ, 0x62},       // Print Screen: COPY
        {KEY_SCROLLLOCK, 0x54},  // HELP
        {KEY_PAUSE, 0x61},       // BREAK
        {KEY_GRAVE, 0x60},       // 半角/全角: 全角
        {KEY_COMPOSE, 0x72},     // Menu: OPT.1
        {KEY_RIGHTCTRL, 0x73},   // OPT.2
        {KEY_PAGEUP, 0x39},      // ROLL DOWN: ROLL UP shows the next page
        {KEY_PAGEDOWN, 0x38},    // ROLL UP
        {KEY_MUTE, 0},          {KEY_VOLUMEUP, 0}, {KEY_VOLUMEDOWN, 0},
    };
    return keys;
}

TEST(DefaultInputKeyMap, PutsEachKeyWhereTheX68000ZKeyboardHasItSaveTheConvertersKeys) {
    const InputKeyMap& map = defaultInputKeyMap();
    for (const auto& [usage, key] : linuxKeyOfUsage()) {
        const auto converted = convertersKeys().find(key);
        const std::uint8_t expected =
            converted != convertersKeys().end() ? converted->second : expectedScanCodes().at(usage);
        EXPECT_EQ(map[static_cast<std::size_t>(key)], expected)
            << "Linux key " << key << " (usage 0x" << std::hex << usage << ")";
    }
}

TEST(DefaultInputKeyMap, GivesTheKeysOnlyPcKeyboardsHaveTheirX68000Keys) {
    const std::pair<int, std::uint8_t> keys[] = {
        {KEY_ZENKAKUHANKAKU, 0x60},  // 全角
        {KEY_MENU, 0x72},            // OPT.1, as KEY_COMPOSE
        {KEY_PRINT, 0x62},           // COPY, as KEY_SYSRQ
        {KEY_KPJPCOMMA, 0x50},       // the keypad's ,
        {KEY_102ND, 0},              // an ISO keyboard's extra key has no place
        {KEY_F13, 0},
    };
    for (const auto& [key, code] : keys) {
        EXPECT_EQ(defaultInputKeyMap()[static_cast<std::size_t>(key)], code) << "Linux key " << key;
    }
}

}  // namespace
