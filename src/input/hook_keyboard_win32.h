// HookKeyboard: the computer's own keyboards on Windows, shared with the
// X68000 by the switch key (ShareSwitch), as a KeyboardConnection back-end:
// the keys a low-level hook takes for the X68000 (InputHooks, HookRouter) go
// through the key map and layout of a KeyTranslator into the relay's key
// queue (HookKeyFeed: the switch key's single press typed once the double
// tap's time is over; every key's break when the keyboard goes back to the
// computer).
//
// open() hooks the keyboard (failure Other with the system's words when the
// hook cannot be set); close() unhooks it. Every keyboard of the computer is
// one keyboard here. It is never absent: a hook that stopped seeing the keys
// (InputHooks: removed by Windows, or the keys in an administrator's window)
// counts as one loss, the keyboard being the computer's again, and open()
// takes it again.
//
// Waiting: the hook thread hands the keys on and calls wakeWorker (the
// relay's wakeWorker()), whose interruptEventHandling() ends a
// handleEvents() that waits; handleEvents() takes the keys handed on,
// translates them and calls keysQueued when some went into the queue. The
// LEDs have no place on the computer's keyboards; the host's かな LED makes the
// keys positional, as on an input device.
//
// Threads: DeviceConnection's, with the hook thread handing keys on under a
// lock of its own.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "input/hook_connection_win32.h"
#include "input/hook_key_feed.h"
#include "input/input_hooks_win32.h"
#include "io/byte_queue.h"
#include "keyboard/keyboard_connection.h"

class HookKeyboard final : public HookConnection<KeyboardConnection, InputHooks::KeyboardSink> {
public:
    HookKeyboard(ByteQueue& keyQueue, std::function<void()> keysQueued,
                 std::shared_ptr<ShareSwitch> share, const KeyTranslator& translator,
                 std::function<void()> wakeWorker);
    ~HookKeyboard() override;
    HookKeyboard(const HookKeyboard&) = delete;
    HookKeyboard& operator=(const HookKeyboard&) = delete;

    bool open() override;
    void close() override;
    void handleEvents(int timeoutMs) override;
    void interruptEventHandling() override;
    bool hasEventContext() const override { return attached.load(); }

    bool presenceFromSystem() const override { return false; }
    int nextTimeoutMs() override { return -1; }
    int msUntilDue(std::uint32_t now) const override;
    bool holdsKeysDown() const override { return false; }
    void setLeds(std::int32_t brightness, std::int32_t mask) override;

private:
    // What the hook thread hands on.
    struct Event {
        enum class Kind : std::uint8_t { Key, Held } kind;
        bool down;
        unsigned key;
        std::uint32_t at;
        std::uint64_t moves;
    };

    // Keys handed on while nobody takes them (no worker) are kept up to
    // this many, far more than hands type between two passes.
    static constexpr std::size_t kMaxEvents = 4096;

    void keyTaken(unsigned key, bool down, std::uint64_t moves) override;
    void switchKeyHeld(std::uint32_t at, std::uint64_t moves) override;
    void hooksLost() override;
    void wake() override;

    ByteQueue& keyQueue;
    const std::function<void()> keysQueued;
    const std::function<void()> wakeWorker;
    HANDLE ready;  // auto-reset: events handed on, or an interrupt

    std::mutex mutex;
    std::vector<Event> events;  // guarded by mutex
    bool lost = false;          // guarded by mutex: the hooks stopped seeing the keys

    HookKeyFeed feed;
    std::vector<Event> taken;  // the driving thread's: events being handled
    std::vector<std::uint8_t> out;
};
