// KeyCounts: which X68000 keys are down, and who holds each, when several
// sources type on one key line: the keyboards the relay reads (the X68000 Z
// keyboard, PC keyboards), and the relay's own taps (the mouse's wheel). A key
// goes down on the line with the first source that presses it and up with the
// last that lets go of it, so that Left Shift held on one keyboard and Right
// Shift let go on another leaves SHIFT down.
//
// Each source hands over its own scan codes, makes and breaks as it sees its
// keys (a source may press one X68000 key more than once: the X68000 Z
// keyboard's two Shifts), and gets back what goes on to the line. A break for
// a key the source does not hold is dropped: its make never counted (it came
// before the relay took the keyboard), so nothing of it went out either.
//
// A plain value of its owner's (the relay's worker), used from one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class KeyCounts {
public:
    // The scan code to send on for scanCode from source (0..), or none (0):
    // a make only when nobody held the key, a break only when nobody holds
    // it any more. A make of code 0 (no key) passes as it is.
    std::uint8_t apply(std::size_t source, std::uint8_t scanCode);

    // source lets go of every key it holds (it was lost, or closed): the
    // breaks of those that nobody else holds, lowest code first.
    std::vector<std::uint8_t> dropSource(std::size_t source);

    // Whether source holds the key with this code.
    bool holds(std::size_t source, std::uint8_t code) const;

private:
    // Per source, how often it pressed each key and has not let go of it;
    // per key, the sum over the sources.
    std::vector<std::array<std::uint8_t, 128>> bySource;
    std::array<std::uint16_t, 128> total{};
};
