// Key map files (--keymap=FILE): lines that change entries of an
// InputKeyMap.
//
//     # Caps Lock does nothing; F11 is コード入力, Right Super かな.
//     CAPSLOCK   none
//     F11        CODE
//     rightmeta  kana
//
// Each line names a Linux key (its KEY_ name without KEY_, which may be
// written too) and what it becomes: an X68000 key by its name
// (x68000_keys.h) or "none". Names may be in any letter case; words are
// separated by spaces or tabs; "#" begins a comment that runs to the end of
// the line; empty lines are allowed. Keys the file does not name keep their
// entry. A key named twice is a mistake, not an override.
//
// A file with a bad line changes nothing: the error names the file and the
// line, as compilers do ("keys.map:3: ..."), and says what is wrong, quoting
// the name it did not know. Quoted names come from the file as they are:
// print the error through the front-end's printable().
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "input/input_key_map.h"

// Applies text, the contents of the file called fileName (used in errors
// only), to map. Returns the error, with map left as it was, or nothing.
std::optional<std::string> applyKeymap(std::string_view text, const std::string& fileName,
                                       InputKeyMap& map);

// Reads the file at path and applies it to map as applyKeymap() does. A file
// that cannot be read, or is too long to be a key map, is an error too:
// "PATH: cannot read it: No such file or directory".
std::optional<std::string> loadKeymapFile(const std::string& path, InputKeyMap& map);

// The name a user calls a Linux key by, for the words that name it: "Scroll
// Lock", "Pause", "Right Ctrl"; for a key without one of its own, its Linux
// name without KEY_ ("F13"), or "" for a code that has none.
std::string keyCalled(unsigned linuxKey);

// The Linux key code of a name a key map file takes (KEY_ name with or
// without KEY_, any letter case); nothing for another name.
std::optional<unsigned> linuxKeyNamed(std::string_view name);
