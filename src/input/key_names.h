// The names of the input layer's key codes (KEY_* and BTN_*), as
// linux/input-event-codes.h defines them, for the words that name keys (key
// map files, --switch-key). One back-end per platform: on Linux libevdev's
// tables (key_names_evdev.cpp); on Windows a table made at build time from
// the build host's copy of the same header (key_names_table.cpp).
//
// Constant tables: any thread may call these.
#pragma once

// The code called name, written as the header writes it ("KEY_F11"); -1 for
// a name it has not.
int keyCodeNamed(const char* name);

// The header's name for a key code ("KEY_F11"), nullptr for a code it names
// not.
const char* keyCodeName(unsigned code);
