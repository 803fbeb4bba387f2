#include "input/hook_mouse_win32.h"

#include <limits>

HookMouse::HookMouse(std::shared_ptr<ShareSwitch> shared, double scale,
                     std::function<void()> wakeHook)
    : HookConnection(std::move(shared), "mouse"), wakeWorker(std::move(wakeHook)), motion(scale) {}

HookMouse::~HookMouse() {
    close();
}

bool HookMouse::open() {
    {
        std::lock_guard lock(mutex);
        dx = dy = 0;
        buttonChanges.clear();
        wheelUnits = 0;
        lost = false;
        movesSeen = share->moves();
        motion.reset();
    }
    return attach();
}

void HookMouse::close() {
    detach();
}

void HookMouse::handleEvents(int) {
    bool lostNow = false;
    bool moved = false;
    {
        std::lock_guard lock(mutex);
        lostNow = std::exchange(lost, false);
        moved = share->moves() != movesSeen;
        followSwitch();
    }
    if (lostNow) {
        noteLoss();
    }
    if (moved) {
        // The cursor comes back now, not at the mouse's next move.
        InputHooks::instance().lookAtSwitch();
    }
}

void HookMouse::followSwitch() {
    if (const std::uint64_t moves = share->moves(); moves != movesSeen) {
        movesSeen = moves;
        dx = dy = 0;
        buttonChanges.clear();
        wheelUnits = 0;
        motion.setButtons(false, false);
    }
}

std::optional<MouseMotion::Packet> HookMouse::takePacket() {
    if (!active()) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex);
    followSwitch();
    for (const auto& [left, right] : buttonChanges) {
        motion.setButtons(left, right);
    }
    buttonChanges.clear();
    const auto clamp = [](std::int64_t v) {
        constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max() / 2;
        return static_cast<std::int32_t>(v < -kMax ? -kMax : v > kMax ? kMax : v);
    };
    motion.move(clamp(dx), clamp(dy));
    dx = dy = 0;
    return motion.takePacket();
}

int HookMouse::takeWheelNotches() {
    if (!active()) {
        return 0;
    }
    std::lock_guard lock(mutex);
    followSwitch();
    const int notches = wheelUnits / WHEEL_DELTA;
    wheelUnits -= notches * WHEEL_DELTA;
    return notches;
}

void HookMouse::moved(int x, int y) {
    std::lock_guard lock(mutex);
    dx += x;
    dy += y;
}

void HookMouse::buttons(bool left, bool right) {
    std::lock_guard lock(mutex);
    if (buttonChanges.size() < kMaxButtonChanges) {
        buttonChanges.emplace_back(left, right);
    } else {
        buttonChanges.back() = {left, right};
    }
}

void HookMouse::wheel(int units) {
    std::lock_guard lock(mutex);
    wheelUnits += units;
}

void HookMouse::hooksLost() {
    std::lock_guard lock(mutex);
    lost = true;
}

void HookMouse::wake() {
    if (wakeWorker) {
        wakeWorker();
    }
}
