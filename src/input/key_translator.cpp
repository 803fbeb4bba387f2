#include "input/key_translator.h"

#include "protocol/scan_code.h"

KeyTranslator::KeyTranslator(const InputKeyMap& keyMap) : map(keyMap) {}

void KeyTranslator::key(unsigned code, bool down, std::vector<std::uint8_t>& out) {
    if (code >= kInputKeyCodes) {
        return;
    }
    if (down) {
        const std::uint8_t x = map[code];
        if (x == 0 || pressedAs[code] != 0) {
            return;
        }
        pressedAs[code] = x;
        if (held[x]++ == 0) {
            out.push_back(x);
        }
        return;
    }
    const std::uint8_t x = pressedAs[code];
    if (x == 0) {
        return;
    }
    pressedAs[code] = 0;
    if (--held[x] == 0) {
        out.push_back(breakOf(x));
    }
}

void KeyTranslator::reset() {
    pressedAs.fill(0);
    held.fill(0);
}
