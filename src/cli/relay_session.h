// One run of pellora on a port, once the single-instance lock is held: opens
// the keyboard, starts the relay on the port, waits until the port has opened,
// then relays until a stop signal, the keyboard's loss or the port's loss, and
// shuts the relay down in order (stop, then closeKeyboard) on every path.
//
// Everything it says goes to err, one line per event; the return value is the
// process's exit status (exit_codes.h).
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

#include "relay/relay_control.h"

// How often the run looks at the relay's status. A stop signal ends the wait
// at once; a lost keyboard or port is noticed within this time.
inline constexpr std::chrono::milliseconds kStatusPollInterval{50};

// Waits up to the time given for a stop signal; returns its number, or 0.
using StopWait = std::function<int(std::chrono::milliseconds)>;

int runRelaySession(RelayControl& relay, const std::string& port, std::ostream& err,
                    const StopWait& waitForStop);

// The first line printed when the keyboard cannot be opened.
inline constexpr const char* kKeyboardFailed = "Failed to initialize the X68000 Z keyboard.";
