// KeyTranslator: one keyboard's keys, as the input layer names them (Linux
// KEY_* codes), turned into the makes and breaks of the X68000's keys, for
// the keyboard back-ends of the computer's own keyboards.
//
// Keys: each key goes through the key map (InputKeyMap: the default map with
// a key map file's changes); keys it gives no X68000 key produce nothing.
// Several keys on one X68000 key (both Shifts on SHIFT; 半角/全角, ` and
// Right Super on 全角): the X68000 key goes down with the first of them and
// up with the last, so that Right Shift let go with Left Shift still held
// leaves SHIFT down. A key let go of gives the break of the X68000 key its
// press gave, whatever changed meanwhile; a key let go of whose press this
// translator did not see (held when the keyboard was taken) gives nothing.
//
// A plain value of its back-end's, used from the thread that drives it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "input/input_key_map.h"

class KeyTranslator {
public:
    explicit KeyTranslator(const InputKeyMap& map);

    // Key code went down (true) or up: appends the scan codes that go to the
    // X68000 for it, if any, to out.
    void key(unsigned code, bool down, std::vector<std::uint8_t>& out);

    // Every key is taken as up, with nothing sent: the keyboard was let go of.
    void reset();

    // Whether the X68000 key with this code is down from this keyboard.
    bool holds(std::uint8_t x68000Code) const { return held[x68000Code] != 0; }

private:
    const InputKeyMap map;
    // Per Linux key, the X68000 key its press gave (0: none, or up).
    std::array<std::uint8_t, kInputKeyCodes> pressedAs{};
    // Per X68000 key, how many of this keyboard's keys hold it down.
    std::array<std::uint8_t, 128> held{};
};
