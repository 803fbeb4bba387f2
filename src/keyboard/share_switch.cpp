#include "keyboard/share_switch.h"

#include <utility>

ShareSwitch::ShareSwitch(unsigned switchKey, std::string name, TickSource tickSource)
    : key(switchKey), keyName(std::move(name)), ticks(std::move(tickSource)) {}

ShareSwitch::Side ShareSwitch::side() const {
    std::lock_guard lock(mutex);
    return where;
}

std::uint64_t ShareSwitch::moves() const {
    std::lock_guard lock(mutex);
    return moveCount;
}

ShareSwitch::Tap ShareSwitch::tapped() {
    const std::uint32_t at = ticks();
    Side to;
    {
        std::lock_guard lock(mutex);
        if (!tapOpen || at - firstTapAt >= kDoubleTapMs) {
            tapOpen = true;
            firstTapAt = at;
            return where == Side::X68000 ? Tap::Withheld : Tap::Passed;
        }
        tapOpen = false;
        to = where == Side::X68000 ? Side::Computer : Side::X68000;
    }
    move(to);
    return Tap::Switched;
}

void ShareSwitch::toComputer() {
    move(Side::Computer);
}

void ShareSwitch::move(Side to) {
    std::function<void()> tell;
    {
        std::lock_guard lock(mutex);
        if (where == to) {
            return;
        }
        where = to;
        ++moveCount;
        tapOpen = false;
        tell = listener;
    }
    if (tell) {
        tell();
    }
}

void ShareSwitch::setListener(std::function<void()> l) {
    std::lock_guard lock(mutex);
    listener = std::move(l);
}
