#include "input/input_key_map.h"

#include <linux/input-event-codes.h>

#include <utility>

static_assert(kInputKeyCodes == KEY_CNT);

namespace {

InputKeyMap buildDefault() {
    // Linux key -> X68000 key code (x68000_keys.cpp has the codes' names).
    constexpr std::pair<int, std::uint8_t> kEntries[] = {
        // The main block, row by row as a JIS keyboard has it.
        {KEY_ESC, 0x01},
        {KEY_1, 0x02},
        {KEY_2, 0x03},
        {KEY_3, 0x04},
        {KEY_4, 0x05},
        {KEY_5, 0x06},
        {KEY_6, 0x07},
        {KEY_7, 0x08},
        {KEY_8, 0x09},
        {KEY_9, 0x0A},
        {KEY_0, 0x0B},
        {KEY_MINUS, 0x0C},  // -
        {KEY_EQUAL, 0x0D},  // ^
        {KEY_YEN, 0x0E},    // ¥
        {KEY_BACKSPACE, 0x0F},
        {KEY_TAB, 0x10},
        {KEY_Q, 0x11},
        {KEY_W, 0x12},
        {KEY_E, 0x13},
        {KEY_R, 0x14},
        {KEY_T, 0x15},
        {KEY_Y, 0x16},
        {KEY_U, 0x17},
        {KEY_I, 0x18},
        {KEY_O, 0x19},
        {KEY_P, 0x1A},
        {KEY_LEFTBRACE, 0x1B},   // @
        {KEY_RIGHTBRACE, 0x1C},  // [
        {KEY_ENTER, 0x1D},
        {KEY_A, 0x1E},
        {KEY_S, 0x1F},
        {KEY_D, 0x20},
        {KEY_F, 0x21},
        {KEY_G, 0x22},
        {KEY_H, 0x23},
        {KEY_J, 0x24},
        {KEY_K, 0x25},
        {KEY_L, 0x26},
        {KEY_SEMICOLON, 0x27},   // ;
        {KEY_APOSTROPHE, 0x28},  // :
        {KEY_BACKSLASH, 0x29},   // ] (a US keyboard's \ above Enter, too)
        {KEY_Z, 0x2A},
        {KEY_X, 0x2B},
        {KEY_C, 0x2C},
        {KEY_V, 0x2D},
        {KEY_B, 0x2E},
        {KEY_N, 0x2F},
        {KEY_M, 0x30},
        {KEY_COMMA, 0x31},
        {KEY_DOT, 0x32},
        {KEY_SLASH, 0x33},
        {KEY_RO, 0x34},  // _
        {KEY_SPACE, 0x35},
        {KEY_CAPSLOCK, 0x5D},
        {KEY_LEFTSHIFT, 0x70},
        {KEY_RIGHTSHIFT, 0x70},
        {KEY_LEFTCTRL, 0x71},
        // The X68000's own keys, where the converters put them.
        {KEY_GRAVE, 0x60},  // 半角/全角 on a JIS keyboard: 全角
        {KEY_ZENKAKUHANKAKU, 0x60},
        {KEY_LEFTALT, 0x55},           // XF1
        {KEY_MUHENKAN, 0x56},          // XF2
        {KEY_HENKAN, 0x57},            // XF3
        {KEY_KATAKANAHIRAGANA, 0x58},  // XF4
        {KEY_RIGHTALT, 0x59},          // XF5
        {KEY_COMPOSE, 0x72},           // Menu: OPT.1
        {KEY_MENU, 0x72},
        {KEY_RIGHTCTRL, 0x73},  // OPT.2
        {KEY_LEFTMETA, 0x5F},   // ひらがな
        {KEY_RIGHTMETA, 0x60},  // 全角, as the X68000 Z keyboard's right GUI key
        {KEY_F11, 0x5A},        // かな
        {KEY_F12, 0x5B},        // ローマ字
        {KEY_SYSRQ, 0x62},      // Print Screen: COPY
        {KEY_PRINT, 0x62},
        {KEY_SCROLLLOCK, 0x54},  // HELP
        {KEY_PAUSE, 0x61},       // BREAK
        {KEY_F1, 0x63},
        {KEY_F2, 0x64},
        {KEY_F3, 0x65},
        {KEY_F4, 0x66},
        {KEY_F5, 0x67},
        {KEY_F6, 0x68},
        {KEY_F7, 0x69},
        {KEY_F8, 0x6A},
        {KEY_F9, 0x6B},
        {KEY_F10, 0x6C},
        // The editing block and the arrows.
        {KEY_INSERT, 0x5E},
        {KEY_DELETE, 0x37},
        {KEY_HOME, 0x36},
        {KEY_END, 0x3A},  // UNDO
        // ROLL UP shows the next page on the X68000: Page Down's, as
        // emulators' PC-keyboard maps and the USB converters have it (the
        // X68000 Z keyboard's own codes have them the other way round).
        {KEY_PAGEUP, 0x39},    // ROLL DOWN
        {KEY_PAGEDOWN, 0x38},  // ROLL UP
        {KEY_LEFT, 0x3B},
        {KEY_UP, 0x3C},
        {KEY_RIGHT, 0x3D},
        {KEY_DOWN, 0x3E},
        // The keypad.
        {KEY_NUMLOCK, 0x3F},  // CLR
        {KEY_KPSLASH, 0x40},
        {KEY_KPASTERISK, 0x41},
        {KEY_KPMINUS, 0x42},
        {KEY_KP7, 0x43},
        {KEY_KP8, 0x44},
        {KEY_KP9, 0x45},
        {KEY_KPPLUS, 0x46},
        {KEY_KP4, 0x47},
        {KEY_KP5, 0x48},
        {KEY_KP6, 0x49},
        {KEY_KPEQUAL, 0x4A},
        {KEY_KP1, 0x4B},
        {KEY_KP2, 0x4C},
        {KEY_KP3, 0x4D},
        {KEY_KPENTER, 0x4E},
        {KEY_KP0, 0x4F},
        {KEY_KPCOMMA, 0x50},
        {KEY_KPJPCOMMA, 0x50},
        {KEY_KPDOT, 0x51},
    };
    InputKeyMap map{};
    for (const auto& [key, code] : kEntries) {
        map[static_cast<std::size_t>(key)] = code;
    }
    return map;
}

}  // namespace

const InputKeyMap& defaultInputKeyMap() {
    static const InputKeyMap map = buildDefault();
    return map;
}
