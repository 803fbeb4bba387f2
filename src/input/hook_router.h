// HookRouter: which side each key, button and move of the computer's own
// keyboards and mouse goes to, as a low-level hook sees them while they are
// shared with the X68000 (ShareSwitch): passed on to the computer, or stopped
// there and taken for the X68000. The hook carries the verdict out (its
// procedure returns at once either way); the X68000's share goes to the
// relay's worker (HookKeyFeed, HookMouse).
//
//   - A key goes to the side that saw it go down until it is let go of: a
//     key held on the computer while the keyboard goes to the X68000 is let
//     go of on the computer, and one held on the X68000's side is let go of
//     there (its break already sent when the keyboard went back, its release
//     stopped on the computer, which never saw it go down). A release whose
//     press nobody saw (held since before the hook) is the computer's.
//   - The keyboard's own repeats of a key go where its press went; the
//     X68000's share of them is dropped (the relay repeats a held key itself).
//   - The switch key: each press (not its repeats) is a tap of the switch
//     (ShareSwitch::tapped()); a tap the switch passes is the computer's, a
//     withheld one is stopped and handed on for the X68000's side to type
//     once the double tap's time is over, and a switching one is stopped and
//     goes nowhere; its repeats and release follow it.
//   - Mouse buttons follow the same rule as keys, one owner per button;
//     motion and the wheel go to the side the switch points to now.
//
// Keys are told by position (scan_code_keys.h: keyPosition()), so a key the
// key map gives no X68000 key still goes one way or the other as a whole.
//
// A plain value of the hook thread's; the switch is shared with everyone.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "input/scan_code_keys.h"
#include "keyboard/share_switch.h"

class HookRouter {
public:
    // What becomes of one key event.
    enum class KeyFate : std::uint8_t {
        Pass,  // to the computer
        Take,  // stopped there, and the X68000's: hand it on
        Hold,  // stopped there: the switch key's first press on the X68000's side
        Drop,  // stopped there, and nobody's (a switching tap, a repeat taken)
    };
    // The mouse's buttons: the X68000's mouse has the first two.
    enum class Button : std::uint8_t { Left, Right, Middle, X1, X2 };
    static constexpr std::size_t kButtons = 5;

    explicit HookRouter(std::shared_ptr<ShareSwitch> share);

    // A key at position (below kKeyPositions) went down or up; key is its
    // Linux key code, 0 for one the table has none for.
    KeyFate key(unsigned position, unsigned key, bool down);
    // A button went down or up: whether it passes to the computer (else it is
    // the X68000's).
    bool buttonPasses(Button button, bool down);
    // Whether motion and the wheel go to the X68000 now.
    bool mouseToX68000() const;

    // Nothing is taken as down: the hooks were installed anew.
    void reset();

    const ShareSwitch& shareSwitch() const { return *share; }

private:
    enum class Owner : std::uint8_t { Up, Computer, X68000, Nobody };

    Owner ownerOnPress();

    const std::shared_ptr<ShareSwitch> share;
    std::array<Owner, kKeyPositions> keys{};
    std::array<Owner, kButtons> buttons{};
};
