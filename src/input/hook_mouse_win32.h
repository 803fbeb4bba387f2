// HookMouse: the computer's own mouse on Windows, shared with the X68000 by
// the switch key (ShareSwitch), as a MouseConnection back-end: while the
// switch points to the X68000 a low-level hook (InputHooks) holds the cursor
// still and hands on the motion, the left and right buttons and the wheel,
// which are summed here into the X68000's packets (MouseMotion, with a scale)
// and its wheel's notches.
//
// When the switch moves (to the computer, and whatever it did after), the
// next packet has the buttons up, and motion and notches not yet taken are
// forgotten: the buttons' own releases, which the hook then stops on the
// computer, add nothing. While the mouse is the computer's the packets carry
// no motion (the host still finds a mouse answering).
//
// open() takes the mouse for the hook; close() gives it back. A hook that
// stopped seeing the input counts as one loss (the relay opens it again).
// Only a turn of the wheel wakes the relay's worker (it taps keys for it);
// motion and buttons wait for the host's next request. handleEvents() looks
// at the switch, for the hook thread to hand the cursor back at once.
//
// Threads: DeviceConnection's, with the hook thread handing events on under a
// lock of its own.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "input/hook_connection_win32.h"
#include "input/input_hooks_win32.h"
#include "keyboard/mouse_connection.h"
#include "protocol/mouse_packet.h"

class HookMouse final : public HookConnection<MouseConnection, InputHooks::MouseSink> {
public:
    // scale: as MouseMotion::setScale() takes it. wakeWorker: the relay's
    // wakeWorker(), for the wheel.
    HookMouse(std::shared_ptr<ShareSwitch> share, double scale, std::function<void()> wakeWorker);
    ~HookMouse() override;
    HookMouse(const HookMouse&) = delete;
    HookMouse& operator=(const HookMouse&) = delete;

    bool open() override;
    void close() override;
    void handleEvents(int timeoutMs) override;
    void interruptEventHandling() override {}
    bool hasEventContext() const override { return false; }

    std::optional<MouseMotion::Packet> takePacket() override;
    int takeWheelNotches() override;

private:
    // Buttons changes handed on between two packets are kept up to this
    // many: each shows in turn, so that a click between two requests counts.
    static constexpr std::size_t kMaxButtonChanges = 64;

    void moved(int dx, int dy) override;
    void buttons(bool left, bool right) override;
    void wheel(int units) override;
    void hooksLost() override;
    void wake() override;
    // Under the lock: the switch moved since the last look, so the X68000's
    // buttons are up and what was handed on is forgotten.
    void followSwitch();

    const std::function<void()> wakeWorker;

    std::mutex mutex;  // guards what the hook thread hands on, and motion
    std::int64_t dx = 0;
    std::int64_t dy = 0;
    std::vector<std::pair<bool, bool>> buttonChanges;
    int wheelUnits = 0;
    bool lost = false;
    std::uint64_t movesSeen = 0;
    MouseMotion motion;
};
