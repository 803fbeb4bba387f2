#include "input/key_translator.h"

#include "protocol/scan_code.h"

namespace {

constexpr std::uint8_t kShift = 0x70;
constexpr std::uint8_t kCtrl = 0x71;

}  // namespace

KeyTranslator::KeyTranslator(const InputKeyMap& keyMap, Layout layout) : map(keyMap) {
    const InputKeyMap& places = layoutKeyMap(layout);
    const auto& typed = legendKeys(layout);
    for (std::size_t key = 0; key < kInputKeyCodes; ++key) {
        if (map[key] == places[key]) {  // a key the map file moved keeps its place
            legends[key] = typed[key];
        }
    }
}

void KeyTranslator::key(unsigned code, bool down, std::vector<std::uint8_t>& out) {
    if (code >= kInputKeyCodes) {
        return;
    }
    if (down) {
        press(code, out);
    } else {
        release(code, out);
    }
}

void KeyTranslator::showShift(bool down, std::vector<std::uint8_t>& out) {
    if (down != shiftShown) {
        shiftShown = down;
        out.push_back(down ? kShift : breakOf(kShift));
    }
}

void KeyTranslator::press(unsigned code, std::vector<std::uint8_t>& out) {
    const std::uint8_t place = map[code];
    if (place == 0 || pressedAs[code] != 0) {
        return;
    }
    if (place == kShift) {
        pressedAs[code] = kShift;
        // While a legend holds SHIFT otherwise, the user's Shift waits for
        // the next key.
        if (userShift++ == 0 && forcedBy == 0) {
            showShift(true, out);
        }
        return;
    }
    TypedKey typed{place, ShiftNeed::AsHeld};
    if (userCtrl == 0 && !kana) {
        const LegendKey& legend = legends[code];
        const TypedKey& level = userShift > 0 ? legend.shifted : legend.plain;
        if (level.code != 0) {
            typed = level;
        }
    }
    if (place == kCtrl) {
        ++userCtrl;
    }
    showShift(typed.shift == ShiftNeed::AsHeld ? userShift > 0 : typed.shift == ShiftNeed::Added,
              out);
    forcedBy = typed.shift == ShiftNeed::AsHeld ? 0 : code;
    pressedAs[code] = typed.code;
    if (held[typed.code]++ == 0) {
        out.push_back(typed.code);
    }
}

void KeyTranslator::release(unsigned code, std::vector<std::uint8_t>& out) {
    const std::uint8_t x = pressedAs[code];
    if (x == 0) {
        return;
    }
    pressedAs[code] = 0;
    if (x == kShift && map[code] == kShift) {
        if (--userShift == 0 && forcedBy == 0) {
            showShift(false, out);
        }
        return;
    }
    if (map[code] == kCtrl) {
        --userCtrl;
    }
    if (--held[x] == 0) {
        out.push_back(breakOf(x));
    }
    if (forcedBy == code) {
        forcedBy = 0;
        // SHIFT added for this key goes at once; one released for it comes
        // back with the next key, not as a make alone.
        if (shiftShown && userShift == 0) {
            showShift(false, out);
        }
    }
}

void KeyTranslator::releaseAll(std::vector<std::uint8_t>& out) {
    for (std::size_t code = 1; code < held.size(); ++code) {
        if (held[code] != 0 || (code == kShift && shiftShown)) {
            out.push_back(breakOf(static_cast<std::uint8_t>(code)));
        }
    }
    reset();
}

void KeyTranslator::reset() {
    pressedAs.fill(0);
    held.fill(0);
    userShift = 0;
    userCtrl = 0;
    shiftShown = false;
    forcedBy = 0;
}
