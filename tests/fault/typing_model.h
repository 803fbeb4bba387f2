// Random typing on the keyboard's two endpoints for the soak tests, and the
// check of what the host received against what it must receive.
//
// Each change presses or lets go of exactly one key on one endpoint and comes
// as one report, so the host must get at most one byte for it: the key's make
// code, or its break (bit 7 set), unless another key holds the same X68000 key
// (both Shifts, a key down on both endpoints): an X68000 key goes down with
// the first key on it and up with the last. The X68000 codes come from the tests' own
// table (support/expected_scan_codes.h), not the relay's, so the expectation
// does not lean on the code under test. Boot reports keep the keys down packed from the first
// slot, as keyboards do: a key let go makes the later ones move down a slot,
// which must not show on the line.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct KeyChange {
    std::uint8_t endpoint = 0;         // 0x81 (boot) or 0x82 (bitmap)
    std::vector<std::uint8_t> report;  // the whole report after the change
    std::uint8_t scanCode = 0;         // the key that changed: its make or break
    std::uint8_t sent = 0;             // the byte the host must receive; 0: none
};

class RandomTyping {
public:
    // A key that no change ever touches, for the test to press as an end marker.
    static constexpr std::uint8_t kMarkerUsage = 0x45;  // F12
    static constexpr std::uint8_t kMarkerCode = 0x73;

    explicit RandomTyping(std::uint32_t seed);

    // Presses a key that is up or lets go of one that is down, at random.
    KeyChange next();
    // Lets go of every key still down, one change per key.
    std::vector<KeyChange> releaseAll();

private:
    KeyChange bootReport(std::uint8_t scanCode);
    KeyChange bitmapReport(std::uint8_t scanCode);
    // Counts the change's key and says what the host gets.
    KeyChange counted(KeyChange change);

    std::mt19937 rng;
    std::uint8_t modifiers = 0;
    std::vector<std::uint8_t> slots;                   // boot: usages down, in slot order
    std::vector<std::uint8_t> bitmap;                  // bitmap: usages down
    std::vector<int> down = std::vector<int>(128, 0);  // per X68000 key, the keys holding it
};

// The received bytes must be the expected ones, in order, none lost, none
// extra, except for auto-repeat (when repeatsAllowed): the key last made keeps
// repeating until its own break, so further makes of it may come anywhere
// after its make. A break of another key does not stop it, and a make of
// another key moves the repeat to that key.
struct StreamVerdict {
    bool ok = true;
    std::string why;          // the first difference, when not ok
    std::size_t repeats = 0;  // repeat bytes found
};
StreamVerdict compareWithRepeats(const std::vector<std::uint8_t>& expected,
                                 const std::vector<std::uint8_t>& received, bool repeatsAllowed);
