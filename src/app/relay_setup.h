// RelaySetup: what the tray program relays, as the window and the command
// line choose it: the X68000 Z keyboard alone, or this computer's own
// keyboards and mouse too, shared with the X68000 by a switch key
// (ShareSwitch), the mouse's packets on a port of their own.
//
// The window makes its relay through a RelayMaker, anew whenever the setup
// changes: a KeyRelay's keyboards and mouse are fixed once it is made.
//
// Plain values; the maker is called by the window's threads one at a time.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "input/layout.h"
#include "keyboard/share_switch.h"
#include "relay/relay_control.h"
#include "shell/port_choice.h"

struct RelaySetup {
    bool share = false;     // this computer's keyboards and mouse too
    std::string mousePort;  // where the shared mouse's packets go; "" for no mouse
    unsigned switchKey;     // the Linux key code of the switch key
    Layout layout = Layout::Jis;

    RelaySetup();
    bool operator==(const RelaySetup&) const = default;
};

// A relay made for a setup, and the switch it shares this computer's keyboard
// and mouse by (null without sharing), which the window reads for its
// tooltip and moves back to the computer when the session is locked.
struct MadeRelay {
    std::shared_ptr<RelayControl> relay;
    std::shared_ptr<ShareSwitch> share;
};
using RelayMaker = std::function<MadeRelay(const RelaySetup&)>;

// The setup a command line asks for, or what is wrong with it (an error of
// its options, a switch key or layout it has no name for), in a sentence of
// the program's language (uiText()).
std::optional<std::string> setupFromCommandLine(const CommandLine& line, RelaySetup& setup);
