// HookKeyFeed: the X68000's side of the computer's keyboards as a low-level
// hook hands them on (hook_router.h), on the relay's worker: what becomes of
// the keys taken for the X68000.
//
//   - Each key goes through the key map and layout (KeyTranslator) into the
//     X68000's makes and breaks.
//   - The switch key's first press on the X68000's side, held back by the
//     hook, is typed (make, then break) once ShareSwitch::kDoubleTapMs have
//     passed without a second, unless the switch moved meanwhile.
//   - When the switch moves (to the computer, and whatever it did after),
//     every key this side holds gets its break at once and a held-back
//     press is forgotten: the keys' own releases, which the hook then stops
//     on the computer, add nothing.
//
// A plain value of its back-end's (HookKeyboard), used by the thread that
// drives it; the switch is shared and thread-safe.
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <vector>

#include "input/input_key_map.h"
#include "input/key_translator.h"
#include "keyboard/share_switch.h"

class HookKeyFeed {
public:
    HookKeyFeed(std::shared_ptr<ShareSwitch> share, const KeyTranslator& translator);

    // A key the hook took for the X68000 went down or up (a Linux key code),
    // with the switch's moves() as the hook saw them: appends what the X68000
    // gets for it to out (the breaks of the keys held first, when the switch
    // moved before it).
    void key(unsigned code, bool down, std::uint64_t moves, std::vector<std::uint8_t>& out);
    // The switch key's first press, held back at at (the switch's clock), in
    // the switch's moves().
    void held(std::uint32_t at, std::uint64_t moves, std::vector<std::uint8_t>& out);
    // After the keys of a pass: the breaks of every key held when the switch
    // has moved since the last look; the held-back press when it is due at
    // now (the switch's clock).
    void look(std::uint32_t now, std::vector<std::uint8_t>& out);
    // Milliseconds from now until the held-back press is due (0: due; -1:
    // none).
    int msUntilDue(std::uint32_t now) const;

    // The host's かな LED.
    void setKana(bool lit) { keys.setKana(lit); }
    // Nothing down, nothing held back, nothing sent: a new connection.
    void reset();

private:
    // The switch moved to moves: every key held gets its break, and a
    // held-back press is forgotten.
    void follow(std::uint64_t moves, std::vector<std::uint8_t>& out);
    void press(unsigned code, bool down, std::vector<std::uint8_t>& out);

    const std::shared_ptr<ShareSwitch> share;
    KeyTranslator keys;
    std::bitset<kInputKeyCodes> down;  // keys this side has taken as down
    std::uint64_t movesSeen = 0;       // the switch's moves() at the last look
    bool tapHeld = false;
    std::uint32_t tapAt = 0;
};
