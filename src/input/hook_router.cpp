#include "input/hook_router.h"

#include <utility>

HookRouter::HookRouter(std::shared_ptr<ShareSwitch> shared) : share(std::move(shared)) {}

HookRouter::Owner HookRouter::ownerOnPress() {
    return share->side() == ShareSwitch::Side::X68000 ? Owner::X68000 : Owner::Computer;
}

HookRouter::KeyFate HookRouter::key(unsigned position, unsigned code, bool down) {
    if (position >= kKeyPositions) {
        return KeyFate::Pass;
    }
    Owner& owner = keys[position];
    if (!down) {
        const Owner was = owner;
        owner = Owner::Up;
        switch (was) {
            case Owner::Up:  // pressed before the hook saw it: the computer's
            case Owner::Computer:
                return KeyFate::Pass;
            case Owner::X68000:
                return KeyFate::Take;
            case Owner::Nobody:
                break;
        }
        return KeyFate::Drop;
    }
    switch (owner) {  // a repeat goes where the press went
        case Owner::Computer:
            return KeyFate::Pass;
        case Owner::X68000:
        case Owner::Nobody:
            return KeyFate::Drop;
        case Owner::Up:
            break;
    }
    if (code != 0 && code == share->switchKey()) {
        switch (share->tapped()) {
            case ShareSwitch::Tap::Passed:
                owner = Owner::Computer;
                return KeyFate::Pass;
            case ShareSwitch::Tap::Withheld:
                owner = Owner::Nobody;
                return KeyFate::Hold;
            case ShareSwitch::Tap::Switched:
                owner = Owner::Nobody;
                return KeyFate::Drop;
        }
    }
    owner = ownerOnPress();
    return owner == Owner::Computer ? KeyFate::Pass : KeyFate::Take;
}

bool HookRouter::buttonPasses(Button button, bool down) {
    Owner& owner = buttons[static_cast<std::size_t>(button)];
    if (!down) {
        const bool passes = owner != Owner::X68000;
        owner = Owner::Up;
        return passes;
    }
    if (owner == Owner::Up) {
        owner = ownerOnPress();
    }
    return owner == Owner::Computer;
}

bool HookRouter::mouseToX68000() const {
    return share->side() == ShareSwitch::Side::X68000;
}

void HookRouter::reset() {
    keys.fill(Owner::Up);
    buttons.fill(Owner::Up);
}
