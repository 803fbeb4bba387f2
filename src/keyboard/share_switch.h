// ShareSwitch: the computer's own keyboards and mouse, shared between the
// computer and the X68000 by a hotkey, as hardware KVM switches do: they
// belong to the computer until the switch key (Scroll Lock unless the user
// names another) is pressed twice within kDoubleTapMs, then to the X68000
// until it is pressed twice again.
//
// The switch only decides where the keys go; the back-ends that read the
// keys carry it out, each its own way (an input device is grabbed or let go
// of, a low-level hook passes or stops each key), and see to it that no key
// is left held on either side: a key keeps going to the side that saw it go
// down until it is let go of.
//
// Taps: each press of the switch key is told here (tapped()), which says
// what becomes of it:
//   - the second within kDoubleTapMs of the first switches, and neither is
//     typed on the X68000 (on the computer's side both were the computer's);
//   - on the X68000's side a first press is held back (Withheld): the
//     back-end that saw it types it on the X68000 once kDoubleTapMs have
//     passed without a second (the switch key is a key of the X68000's too:
//     Scroll Lock is HELP), and forgets it when the switch moves meanwhile;
//   - on the computer's side a first press is the computer's (Passed).
//
// Going back: the keyboard goes back to the computer by itself when the
// relay gives it up (the key line lost, the relay stopped, the program
// ending; Windows: the session locked): toComputer().
//
// Ownership: shared by the front-end that makes it, the relay (which tells
// of it in its status and sends it home) and the back-ends. Threads: every
// member may be called from any thread (the relay's worker reads Linux's
// keyboards, a hook thread Windows'); the listener is called, without the
// switch's lock, on the thread that moved it.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "io/ticks.h"

class ShareSwitch {
public:
    // Where the keyboards and the mouse go.
    enum class Side { Computer, X68000 };
    // What becomes of a press of the switch key.
    enum class Tap {
        Passed,    // the computer's, as any key on its side
        Withheld,  // held back; typed on the X68000 once kDoubleTapMs pass
        Switched,  // the second of two: the switch moved, and it goes nowhere
    };

    static constexpr std::uint32_t kDoubleTapMs = 500;

    // switchKey: the Linux key code (KEY_*) that switches; name: how the
    // user calls it ("Scroll Lock"), for the words that tell where the
    // keyboard goes.
    ShareSwitch(unsigned switchKey, std::string keyName, TickSource ticks = systemTickMs);

    unsigned switchKey() const { return key; }
    const std::string& switchKeyName() const { return keyName; }

    Side side() const;
    // Goes up by one at every move of the switch: a back-end that remembers
    // it sees that the switch moved, even there and back.
    std::uint64_t moves() const;

    // The switch key went down, at the switch's clock.
    Tap tapped();
    // The keyboards and the mouse go back to the computer, if they are not
    // there already.
    void toComputer();

    // Called after every move. Set it before anyone taps.
    void setListener(std::function<void()> listener);

    // The clock the taps are timed by, for a back-end's own withheld tap.
    std::uint32_t now() const { return ticks(); }

private:
    void move(Side to);

    const unsigned key;
    const std::string keyName;
    const TickSource ticks;
    mutable std::mutex mutex;
    Side where = Side::Computer;   // guarded by mutex
    std::uint64_t moveCount = 0;   // guarded by mutex
    bool tapOpen = false;          // a first press within the last kDoubleTapMs; guarded
    std::uint32_t firstTapAt = 0;  // guarded by mutex
    std::function<void()> listener;
};
