#include "input/hook_key_feed.h"

#include <utility>

HookKeyFeed::HookKeyFeed(std::shared_ptr<ShareSwitch> shared, const KeyTranslator& translator)
    : share(std::move(shared)), keys(translator), movesSeen(share->moves()) {
    keys.reset();
}

void HookKeyFeed::key(unsigned code, bool isDown, std::uint64_t moves,
                      std::vector<std::uint8_t>& out) {
    follow(moves, out);
    // A press taken before a move this side has followed already (told by
    // the worker's own look) would be down on the X68000 with the keyboard
    // on the computer's side.
    if (isDown && moves < movesSeen) {
        return;
    }
    press(code, isDown, out);
}

void HookKeyFeed::press(unsigned code, bool isDown, std::vector<std::uint8_t>& out) {
    if (code >= kInputKeyCodes) {
        return;
    }
    down.set(code, isDown);
    keys.key(code, isDown, out);
}

void HookKeyFeed::held(std::uint32_t at, std::uint64_t moves, std::vector<std::uint8_t>& out) {
    follow(moves, out);
    if (moves == movesSeen) {
        tapHeld = true;
        tapAt = at;
    }
}

void HookKeyFeed::follow(std::uint64_t moves, std::vector<std::uint8_t>& out) {
    // The hook's events come in order, each with the moves it saw, so a move
    // only ever goes up here; one it did not see (the worker's own, a lock of
    // the session) comes from look().
    if (moves <= movesSeen) {
        return;
    }
    // Whatever it did since, the switch went through the computer's side:
    // nothing held here stays down on the X68000.
    movesSeen = moves;
    tapHeld = false;
    for (unsigned code = 0; code < kInputKeyCodes; ++code) {
        if (down.test(code)) {
            press(code, false, out);
        }
    }
}

void HookKeyFeed::look(std::uint32_t now, std::vector<std::uint8_t>& out) {
    follow(share->moves(), out);
    if (tapHeld && msUntil(tapAt + ShareSwitch::kDoubleTapMs, now) == 0) {
        tapHeld = false;
        // A key of the X68000's too (Scroll Lock is HELP): a tap of it.
        const unsigned code = share->switchKey();
        press(code, true, out);
        press(code, false, out);
    }
}

int HookKeyFeed::msUntilDue(std::uint32_t now) const {
    return tapHeld ? msUntil(tapAt + ShareSwitch::kDoubleTapMs, now) : -1;
}

void HookKeyFeed::reset() {
    keys.reset();
    down.reset();
    tapHeld = false;
    movesSeen = share->moves();
}
