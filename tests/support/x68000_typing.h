// X68000Typing: a model of the X68000 at the far end of the key line, for
// tests that compare what a user typed with what the X68000 would show. From
// the bytes the host received (makes, and breaks with bit 7 set) it follows
// SHIFT (0x70) and CTRL (0x71), and turns each make of another key into the
// character the genuine ROM enters for that key at that level, as
// tests/data/x68000_key_chars.tsv has it (CAPS, かな and the other locks off).
// With both held, CTRL's column counts (the ROM's table has no column for
// both). Keys whose character is 0 (the cursor and function keys, a few Ctrl
// levels) and levels where the ROM entered nothing type nothing. One thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

class X68000Typing {
public:
    enum class Level { Plain, Shift, Ctrl };

    // Reads the ROM's table from PELLORA_X68000_KEY_CHARS (the test support
    // library gives the path); throws std::runtime_error when it cannot.
    X68000Typing();
    explicit X68000Typing(const std::string& tablePath);

    // The character the ROM enters for code at level; nothing where it enters
    // nothing.
    std::optional<std::uint8_t> character(std::uint8_t code, Level level) const;

    void receive(std::span<const std::uint8_t> bytes);

    // Everything typed so far, in the X68000's character set.
    const std::string& typed() const { return text; }

private:
    std::array<std::array<std::optional<std::uint8_t>, 3>, 0x80> table{};
    bool shift = false;
    bool ctrl = false;
    std::string text;
};
