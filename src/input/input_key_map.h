// InputKeyMap: Linux input key codes (KEY_*) -> X68000 key codes, for a
// keyboard read through the input layer (InputKeyboard).
//
// Linux's key codes name a key by where it sits, after a US keyboard's key
// tops (KEY_LEFTBRACE is the key right of P, which reads @ on a JIS keyboard).
// The default map puts a JIS 109 keyboard's keys where they stand on the
// X68000, so that a US keyboard's keys land where the same key sits on a JIS
// one, and the X68000's own keys where the hardware converters put them:
//
//   F11 かな, F12 ローマ字, Left Alt XF1, 無変換 XF2, 変換 XF3,
//   カタカナ/ひらがな XF4, Right Alt XF5, Menu (KEY_COMPOSE, KEY_MENU) OPT.1,
//   Right Ctrl OPT.2, Page Up ROLL DOWN, Page Down ROLL UP (ROLL UP shows the
//   next page), End UNDO,
//   Pause BREAK, Print Screen (KEY_SYSRQ, KEY_PRINT) COPY, Left Super ひらがな,
//   Right Super 全角, Num Lock CLR, Scroll Lock HELP, 半角/全角 (KEY_GRAVE on a
//   JIS keyboard, KEY_ZENKAKUHANKAKU) 全角, KEY_YEN ¥, KEY_RO _,
//   KEY_KPEQUAL and KEY_KPCOMMA (KEY_KPJPCOMMA) the keypad's = and ,.
//
// 記号入力, 登録 and コード入力 have no PC key by default; a key map file can
// give them one (keymap_file.h). 0 means "no X68000 key": the key produces
// nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// KEY_CNT of linux/input-event-codes.h: every key code the input layer has.
inline constexpr std::size_t kInputKeyCodes = 0x300;

using InputKeyMap = std::array<std::uint8_t, kInputKeyCodes>;

// The default map above.
const InputKeyMap& defaultInputKeyMap();
