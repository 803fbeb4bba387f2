// KeyTranslator: one keyboard's keys, as the input layer names them (Linux
// KEY_* codes), turned into the makes and breaks of the X68000's keys, for
// the back-ends of the computer's own keyboards.
//
// Keys: each key goes through the key map (the layout's positional map with
// a key map file's changes); keys it gives no X68000 key produce nothing.
// Several keys on one X68000 key (both Shifts on SHIFT; 半角/全角, ` and
// Right Super on 全角): the X68000 key goes down with the first of them and
// up with the last, so that Right Shift let go with Left Shift still held
// leaves SHIFT down. A key let go of gives the break of the X68000 key its
// press gave, whatever changed meanwhile; a key let go of whose press this
// translator did not see (held when the keyboard was taken) gives nothing.
//
// Layouts (layout.h): with a US or UK layout, a key whose key top prints a
// character types that character: the X68000 key that has it, with SHIFT
// released or added just before its make where the X68000 has the character
// on the other level. Not with Ctrl held (Ctrl+C is still C), nor while the
// host's かな LED is lit (かな go by position), nor for a key the key map file
// moved: those keys go by the map. SHIFT goes back to what the user holds as
// soon as it would otherwise stay down that the user does not hold (when the
// key that added it is let go of), and otherwise with the next key's make, so
// that no make of SHIFT stands alone to start SHIFT's auto-repeat.
//
// A plain value of its back-end's, used from the thread that drives it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "input/input_key_map.h"
#include "input/layout.h"

class KeyTranslator {
public:
    // map: the keyboard's positional map (layoutKeyMap(layout) with a key
    // map file applied); layout: whose legends the keys type. A map alone
    // makes a positional keyboard's translator.
    KeyTranslator(const InputKeyMap& map,
                  Layout layout = Layout::Jis);  // NOLINT: implicit on purpose

    // The positional map.
    const InputKeyMap& places() const { return map; }

    // Key code went down (true) or up: appends the scan codes that go to the
    // X68000 for it, if any, to out.
    void key(unsigned code, bool down, std::vector<std::uint8_t>& out);

    // The host's かな LED, lit or not.
    void setKana(bool lit) { kana = lit; }

    // Every key is taken as up, with nothing sent: the keyboard was let go of.
    void reset();
    // Every key is taken as up, and the breaks of the X68000 keys that were
    // down are appended to out, lowest code first (the keyboard goes to the
    // computer: the X68000 must not be left holding one).
    void releaseAll(std::vector<std::uint8_t>& out);

private:
    // SHIFT on the line as wanted, a make or break appended where it changes.
    void showShift(bool down, std::vector<std::uint8_t>& out);
    void press(unsigned code, std::vector<std::uint8_t>& out);
    void release(unsigned code, std::vector<std::uint8_t>& out);

    const InputKeyMap map;
    // The layout's legends, none for the keys the map moved.
    std::array<LegendKey, kInputKeyCodes> legends{};
    // Per Linux key, the X68000 key its press gave (0: none, or up).
    std::array<std::uint8_t, kInputKeyCodes> pressedAs{};
    // Per X68000 key, how many of this keyboard's keys hold it down.
    std::array<std::uint8_t, 128> held{};
    int userShift = 0;        // keys on SHIFT held
    int userCtrl = 0;         // keys on CTRL held
    bool shiftShown = false;  // SHIFT as the line was told it
    unsigned forcedBy = 0;    // the key whose legend set SHIFT otherwise, while down
    bool kana = false;
};
