#include "input/hook_keyboard_win32.h"

#include <system_error>
#include <utility>

#include "keyboard/x68000_keys.h"

HookKeyboard::HookKeyboard(ByteQueue& queue, std::function<void()> queued,
                           std::shared_ptr<ShareSwitch> shared, const KeyTranslator& translator,
                           std::function<void()> wakeHook)
    : HookConnection(std::move(shared), "keyboard"),
      keyQueue(queue),
      keysQueued(std::move(queued)),
      wakeWorker(std::move(wakeHook)),
      ready(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      feed(share, translator) {
    if (ready == nullptr) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "the hook keyboard's event");
    }
}

HookKeyboard::~HookKeyboard() {
    close();
    CloseHandle(ready);
}

bool HookKeyboard::open() {
    if (!attach()) {
        return false;
    }
    {
        std::lock_guard lock(mutex);
        events.clear();
        lost = false;
    }
    feed.reset();
    return true;
}

void HookKeyboard::close() {
    detach();
    std::lock_guard lock(mutex);
    events.clear();
    lost = false;
}

void HookKeyboard::handleEvents(int timeoutMs) {
    if (!attached) {
        return;
    }
    if (timeoutMs != 0) {
        WaitForSingleObject(ready, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    }
    bool lostNow = false;
    {
        std::lock_guard lock(mutex);
        taken.swap(events);
        lostNow = std::exchange(lost, false);
    }
    if (lostNow && noteLoss()) {
        // The keys it held get their breaks from the relay, as for any
        // keyboard lost; nothing of them is left here.
        feed.reset();
    }
    out.clear();
    if (active()) {
        for (const Event& e : taken) {
            if (e.kind == Event::Kind::Key) {
                feed.key(e.key, e.down, e.moves, out);
            } else {
                feed.held(e.at, e.moves, out);
            }
        }
        feed.look(share->now(), out);
    }
    taken.clear();
    if (!out.empty()) {
        keyQueue.push(out.data(), out.data() + out.size());
        if (keysQueued) {
            keysQueued();
        }
    }
}

void HookKeyboard::interruptEventHandling() {
    SetEvent(ready);
}

int HookKeyboard::msUntilDue(std::uint32_t) const {
    // The held-back press is timed by the switch's clock, as the taps are.
    return active() ? feed.msUntilDue(share->now()) : -1;
}

void HookKeyboard::setLeds(std::int32_t, std::int32_t mask) {
    feed.setKana((mask & kLedKana) != 0);
}

void HookKeyboard::keyTaken(unsigned key, bool down, std::uint64_t moves) {
    std::lock_guard lock(mutex);
    if (events.size() < kMaxEvents) {
        events.push_back({Event::Kind::Key, down, key, 0, moves});
    }
}

void HookKeyboard::switchKeyHeld(std::uint32_t at, std::uint64_t moves) {
    std::lock_guard lock(mutex);
    if (events.size() < kMaxEvents) {
        events.push_back({Event::Kind::Held, true, 0, at, moves});
    }
}

void HookKeyboard::hooksLost() {
    std::lock_guard lock(mutex);
    lost = true;
}

void HookKeyboard::wake() {
    SetEvent(ready);
    if (wakeWorker) {
        wakeWorker();
    }
}
