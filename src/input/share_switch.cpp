#include "input/share_switch.h"

#include <linux/input-event-codes.h>

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

std::string ShareSwitch::sentence() const {
    return side() == Side::X68000 ? "Keyboard and mouse: X68000 (" + keyName + " twice to return)."
                                  : "Keyboard and mouse: this computer.";
}

std::string keyCalled(unsigned linuxKey, const std::string& linuxName) {
    // The keys a switch is likely to be: the ones no program of the desktop
    // uses much, by the words on their key tops.
    static const std::pair<unsigned, const char*> kNames[] = {
        {KEY_SCROLLLOCK, "Scroll Lock"}, {KEY_PAUSE, "Pause"},         {KEY_SYSRQ, "Print Screen"},
        {KEY_NUMLOCK, "Num Lock"},       {KEY_RIGHTCTRL, "Right Ctrl"}, {KEY_RIGHTALT, "Right Alt"},
        {KEY_RIGHTMETA, "Right Super"},  {KEY_COMPOSE, "Menu"},         {KEY_CAPSLOCK, "Caps Lock"},
        {KEY_INSERT, "Insert"},
    };
    for (const auto& [code, name] : kNames) {
        if (code == linuxKey) {
            return name;
        }
    }
    std::string name = linuxName;
    if (name.rfind("KEY_", 0) == 0) {
        name = name.substr(4);
    }
    return name;
}
