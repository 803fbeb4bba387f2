#include "keyboard/x68000_keys.h"

#include "io/ascii_case.h"

namespace {

constexpr X68000Key kKeys[] = {
    {"ESC", 0x01},
    {"1", 0x02},
    {"2", 0x03},
    {"3", 0x04},
    {"4", 0x05},
    {"5", 0x06},
    {"6", 0x07},
    {"7", 0x08},
    {"8", 0x09},
    {"9", 0x0A},
    {"0", 0x0B},
    {"MINUS", 0x0C},  // -
    {"CARET", 0x0D},  // ^
    {"YEN", 0x0E},    // ¥
    {"BS", 0x0F},
    {"TAB", 0x10},
    {"Q", 0x11},
    {"W", 0x12},
    {"E", 0x13},
    {"R", 0x14},
    {"T", 0x15},
    {"Y", 0x16},
    {"U", 0x17},
    {"I", 0x18},
    {"O", 0x19},
    {"P", 0x1A},
    {"AT", 0x1B},           // @
    {"LEFTBRACKET", 0x1C},  // [
    {"RETURN", 0x1D},
    {"A", 0x1E},
    {"S", 0x1F},
    {"D", 0x20},
    {"F", 0x21},
    {"G", 0x22},
    {"H", 0x23},
    {"J", 0x24},
    {"K", 0x25},
    {"L", 0x26},
    {"SEMICOLON", 0x27},     // ;
    {"COLON", 0x28},         // :
    {"RIGHTBRACKET", 0x29},  // ]
    {"Z", 0x2A},
    {"X", 0x2B},
    {"C", 0x2C},
    {"V", 0x2D},
    {"B", 0x2E},
    {"N", 0x2F},
    {"M", 0x30},
    {"COMMA", 0x31},
    {"PERIOD", 0x32},
    {"SLASH", 0x33},
    {"UNDERSCORE", 0x34},  // _ (ろ)
    {"SPACE", 0x35},
    {"HOME", 0x36},
    {"DEL", 0x37},
    {"ROLLUP", 0x38},
    {"ROLLDOWN", 0x39},
    {"UNDO", 0x3A},
    {"LEFT", 0x3B},
    {"UP", 0x3C},
    {"RIGHT", 0x3D},
    {"DOWN", 0x3E},
    {"CLR", 0x3F},
    {"KPSLASH", 0x40},
    {"KPASTERISK", 0x41},
    {"KPMINUS", 0x42},
    {"KP7", 0x43},
    {"KP8", 0x44},
    {"KP9", 0x45},
    {"KPPLUS", 0x46},
    {"KP4", 0x47},
    {"KP5", 0x48},
    {"KP6", 0x49},
    {"KPEQUAL", 0x4A},
    {"KP1", 0x4B},
    {"KP2", 0x4C},
    {"KP3", 0x4D},
    {"KPENTER", 0x4E},
    {"KP0", 0x4F},
    {"KPCOMMA", 0x50},
    {"KPPERIOD", 0x51},
    {"KIGOU", 0x52},    // 記号入力
    {"TOUROKU", 0x53},  // 登録
    {"HELP", 0x54},
    {"XF1", 0x55},
    {"XF2", 0x56},
    {"XF3", 0x57},
    {"XF4", 0x58},
    {"XF5", 0x59},
    {"KANA", 0x5A},    // かな
    {"ROMAJI", 0x5B},  // ローマ字
    {"CODE", 0x5C},    // コード入力
    {"CAPS", 0x5D},
    {"INS", 0x5E},
    {"HIRAGANA", 0x5F},  // ひらがな
    {"ZENKAKU", 0x60},   // 全角
    {"BREAK", 0x61},
    {"COPY", 0x62},
    {"F1", 0x63},
    {"F2", 0x64},
    {"F3", 0x65},
    {"F4", 0x66},
    {"F5", 0x67},
    {"F6", 0x68},
    {"F7", 0x69},
    {"F8", 0x6A},
    {"F9", 0x6B},
    {"F10", 0x6C},
    {"SHIFT", 0x70},
    {"CTRL", 0x71},
    {"OPT1", 0x72},  // OPT.1
    {"OPT2", 0x73},  // OPT.2
    {"NUM", 0x74},   // the Compact keyboard's NUM
};

bool sameName(std::string_view a, const char* upper) {
    std::size_t i = 0;
    for (; i < a.size() && upper[i] != 0; ++i) {
        if (asciiUpper(a[i]) != upper[i]) {
            return false;
        }
    }
    return i == a.size() && upper[i] == 0;
}

}  // namespace

std::span<const X68000Key> x68000Keys() {
    return kKeys;
}

std::optional<std::uint8_t> x68000KeyCode(std::string_view name) {
    for (const X68000Key& key : kKeys) {
        if (sameName(name, key.name)) {
            return key.code;
        }
    }
    return std::nullopt;
}
