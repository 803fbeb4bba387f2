// The computer's keys by position, as Windows' low-level keyboard hook gives
// them (KBDLLHOOKSTRUCT's scanCode, the set-1 make code, with LLKHF_EXTENDED
// for an E0 prefix), named the way the input layer names them (Linux KEY_*
// codes), so that a key a hook sees goes through the same key map and layouts
// as a key of an input device (input_key_map.h, layout.h, KeyTranslator).
// One table, from scan codes to key codes: what becomes of each key on the
// X68000 is the key map's alone.
//
// Set 1 and Linux's key codes agree for the keys of the PC/AT keyboard (0x01
// Esc to 0x53 the keypad's ., 0x56 the ISO key, 0x57 F11, 0x58 F12): Linux's
// codes were numbered after them. The rest is by Microsoft's keyboard scan
// code table and what the hook gives:
//   - the hook gives Pause as 0x45 without E0 (set 1 sends E1 1D 45), and
//     Num Lock as 0x45 with it; Ctrl+Pause (Break) comes as E0 46;
//   - Print Screen is E0 37, and 0x54 with Alt held (SysRq);
//   - Right Shift (0x36) may come with the extended flag set: it is Right
//     Shift either way; E0 2A, the "fake" Left Shift a keyboard sends around
//     the grey keys with Num Lock on, is no key;
//   - the JIS keys: 半角/全角 0x29 (KEY_GRAVE, where a US keyboard has `),
//     カタカナ/ひらがな 0x70, ろ 0x73, 変換 0x79, 無変換 0x7B, ¥ 0x7D;
//   - a scan code above 0xFF (0x21D, the Left Ctrl Windows makes up in front
//     of AltGr) is no key.
//
// Constant tables, built once: any thread may call these.
#pragma once

#include <cstdint>

// The Linux key code (KEY_*) of the key at set-1 scan code scanCode, with
// the E0 prefix when extended; 0 for none.
unsigned keyAtScanCode(std::uint32_t scanCode, bool extended);

// Where a key is, as one number below kKeyPositions, for telling keys apart
// by position (which side a key's press went to): the scan code with the E0
// prefix, Right Shift's cleared (it may come either way), and a scan code
// above 0xFF apart from those.
inline constexpr unsigned kKeyPositions = 0x300;
constexpr unsigned keyPosition(std::uint32_t scanCode, bool extended) {
    if (scanCode > 0xFF) {
        return 0x200 | (scanCode & 0xFF);
    }
    return (extended && scanCode != 0x36 ? 0x100 : 0) | scanCode;
}
