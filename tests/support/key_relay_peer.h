// Reaches a KeyRelay's insides for its tests: keys pushed as the keyboard's
// decoder would push them, the repeat state, and a nudge for the worker after a
// test has moved its hand-set clock (a sleeping worker only looks at the clock
// again when something wakes it).
#pragma once

#include <cstdint>

#include "relay/key_relay.h"

class KeyRelayTestPeer {
public:
    // Pushed as the first keyboard's decoder would (or keyboard index's).
    static void pushKey(KeyRelay& r, std::uint8_t b, std::size_t keyboard = 0) {
        r.keyboards[keyboard]->keys.push(b);
        r.waiter.wake();
    }
    // Queued as the decoder would, but without waking the worker: the key goes
    // out only once something else wakes it.
    static void queueKey(KeyRelay& r, std::uint8_t b) { r.keyboards[0]->keys.push(b); }
    static void wake(KeyRelay& r) { r.waiter.wake(); }
    static RepeatState& repeat(KeyRelay& r) { return r.repeat; }
    static bool fineTimerHeld(const KeyRelay& r) { return r.waiter.fineTimerHeld(); }
    // How long closeKeyboard() waits for keys to go up.
    static void setKeysUpWait(KeyRelay& r, int ms) { r.keysUpWaitMs = ms; }
};
