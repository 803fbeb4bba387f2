#include "typing_model.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "support/expected_scan_codes.h"

namespace {

// Letters, digits, Enter, Escape, Backspace, Tab, Space and the arrows.
constexpr std::uint8_t kTypedUsages[] = {
    0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12,
    0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21,
    0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x4F, 0x50, 0x51, 0x52,
};
constexpr std::uint8_t kFirstModifier = 0xE0;  // boot byte 0, bit 0; bits 1-7 follow
constexpr std::size_t kSlots = 6;
constexpr std::size_t kMostHeld = 5;  // keys held on the bitmap endpoint at once
constexpr std::uint8_t kBreak = 0x80;

std::uint8_t codeOf(std::uint8_t usage) {
    return expectedScanCodes().at(usage);
}

std::uint8_t modifierCode(unsigned bit) {
    return codeOf(static_cast<std::uint8_t>(kFirstModifier + bit));
}

bool holds(const std::vector<std::uint8_t>& down, std::uint8_t usage) {
    return std::find(down.begin(), down.end(), usage) != down.end();
}

}  // namespace

RandomTyping::RandomTyping(std::uint32_t seed) : rng(seed) {}

KeyChange RandomTyping::bootReport(std::uint8_t scanCode) {
    KeyChange c{0x81, std::vector<std::uint8_t>(8, 0), scanCode};
    c.report[0] = modifiers;
    std::copy(slots.begin(), slots.end(), c.report.begin() + 2);
    return counted(c);
}

KeyChange RandomTyping::bitmapReport(std::uint8_t scanCode) {
    KeyChange c{0x82, std::vector<std::uint8_t>(16, 0), scanCode};
    for (std::uint8_t usage : bitmap) {
        c.report[usage / 8] |= static_cast<std::uint8_t>(1u << (usage % 8));
    }
    return counted(c);
}

KeyChange RandomTyping::counted(KeyChange c) {
    int& holders = down[c.scanCode & 0x7F];
    if ((c.scanCode & kBreak) != 0) {
        c.sent = --holders == 0 ? c.scanCode : 0;
    } else {
        c.sent = holders++ == 0 ? c.scanCode : 0;
    }
    return c;
}

KeyChange RandomTyping::next() {
    auto chance = [&](unsigned percent) { return rng() % 100 < percent; };
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };

    // A key of the set that `down` does not hold yet.
    auto upKey = [&](const std::vector<std::uint8_t>& down) {
        for (;;) {
            const std::uint8_t usage = kTypedUsages[pick(std::size(kTypedUsages))];
            if (!holds(down, usage)) {
                return usage;
            }
        }
    };

    if (chance(50)) {  // boot endpoint
        if (chance(25)) {
            const unsigned bit = static_cast<unsigned>(pick(8));
            modifiers ^= static_cast<std::uint8_t>(1u << bit);
            const bool down = ((modifiers >> bit) & 1u) != 0;
            return bootReport(down ? modifierCode(bit) : modifierCode(bit) | kBreak);
        }
        if (slots.size() == kSlots || (!slots.empty() && chance(50))) {
            const auto it = slots.begin() + static_cast<std::ptrdiff_t>(pick(slots.size()));
            const std::uint8_t usage = *it;
            slots.erase(it);  // the keys after it move down a slot
            return bootReport(codeOf(usage) | kBreak);
        }
        const std::uint8_t usage = upKey(slots);
        slots.push_back(usage);
        return bootReport(codeOf(usage));
    }
    if (bitmap.size() == kMostHeld || (!bitmap.empty() && chance(50))) {
        const auto it = bitmap.begin() + static_cast<std::ptrdiff_t>(pick(bitmap.size()));
        const std::uint8_t usage = *it;
        bitmap.erase(it);
        return bitmapReport(codeOf(usage) | kBreak);
    }
    const std::uint8_t usage = upKey(bitmap);
    bitmap.push_back(usage);
    return bitmapReport(codeOf(usage));
}

std::vector<KeyChange> RandomTyping::releaseAll() {
    std::vector<KeyChange> changes;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if (((modifiers >> bit) & 1u) != 0) {
            modifiers ^= static_cast<std::uint8_t>(1u << bit);
            changes.push_back(bootReport(modifierCode(bit) | kBreak));
        }
    }
    while (!slots.empty()) {
        const std::uint8_t usage = slots.front();
        slots.erase(slots.begin());
        changes.push_back(bootReport(codeOf(usage) | kBreak));
    }
    while (!bitmap.empty()) {
        const std::uint8_t usage = bitmap.back();
        bitmap.pop_back();
        changes.push_back(bitmapReport(codeOf(usage) | kBreak));
    }
    return changes;
}

StreamVerdict compareWithRepeats(const std::vector<std::uint8_t>& expected,
                                 const std::vector<std::uint8_t>& received, bool repeatsAllowed) {
    StreamVerdict verdict;
    std::size_t next = 0;  // the expected byte to come next
    auto fail = [&](std::size_t at, const char* what) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "received byte %zu of %zu: %s (%zu of %zu expected matched)", at,
                      received.size(), what, next, expected.size());
        verdict.ok = false;
        verdict.why = text;
        return verdict;
    };
    std::uint8_t repeating = 0;  // the key that may repeat now; 0: none
    for (std::size_t i = 0; i < received.size(); ++i) {
        const std::uint8_t b = received[i];
        if (next < expected.size() && b == expected[next]) {
            ++next;
            if ((b & kBreak) == 0) {
                repeating = b;
            } else if ((b & ~kBreak) == repeating) {
                repeating = 0;
            }
        } else if (repeatsAllowed && repeating != 0 && b == repeating) {
            ++verdict.repeats;
        } else {
            return fail(i, next < expected.size() ? "not the byte expected next, nor a repeat"
                                                  : "more than was expected");
        }
    }
    if (next < expected.size()) {
        return fail(received.size(), "the line ended before every expected byte came");
    }
    return verdict;
}
