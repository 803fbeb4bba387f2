// One run of pellora on a port: opens the keyboard (or waits for it), starts the
// relay on the port, then relays until a stop signal, telling on stderr each
// time the keyboard or the port goes away and comes back, and shuts the relay
// down in order (stop, then closeKeyboard) on every path.
//
// The keyboard is the X68000 Z keyboard, or the input devices that the
// session's devices name (their paths, as InputKeyboard::path() gives them,
// in the relay's order); the session only says which. With one keyboard its
// lines do not name it ("Keyboard disconnected; waiting for it."); with
// several each line names its device ("Keyboard /dev/input/event3
// disconnected; waiting for it."), and each keyboard comes, goes and is
// refused on its own. With a mouse (the relay has one, SessionMouse
// names it and its port), the session checks its port too before anything is
// taken, and tells of the mouse and its port as of the keyboard and its port.
//
// Shared with the computer (the relay has a ShareSwitch), the session says
// where the keyboards and the mouse go, at the start and at every move of the
// switch ("Keyboard and mouse: this computer."). The X68000 Z keyboard is then
// relayed too, after the input devices, where it is plugged in: it is the
// X68000's whatever the switch, is not waited for aloud, and a refusal of it
// is said but ends nothing.
//
// It does not end when the keyboard or the port goes away: the relay gets them
// back by itself. It ends with a failure when the keyboard is present but
// cannot be opened before it was ever opened (no permission; for an input
// device, not a keyboard; for the X68000 Z keyboard also another program,
// perhaps another pellora, holding it: that is the single-instance check, which
// the port's lock is for an input device, whose holder is waited for), or when
// the port cannot be opened at start (missing, not a terminal, in use, no
// permission). The same holds for a mouse and its port at start (one that
// another program holds is waited for); later, a mouse that is refused is
// told and waited for while the keyboard relays on.
//
// Everything it says goes to err, one line per event, in the user's language
// (cli/translation.h); the return value is the process's exit status
// (exit_codes.h).
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "relay/relay_control.h"

// Sleeps until a stop signal (returns its number) or a change of the relay's
// status (returns 0).
using WaitForEvent = std::function<int()>;

// The mouse of a session: its path (InputMouse::path()) and its port (PORT2)
// as given; an empty path: no mouse.
struct SessionMouse {
    std::string device;
    std::string port;
};

// What a session relays besides the port: the input devices (none: the
// X68000 Z keyboard), the mouse, and for a keyboard shared with the computer
// its switch key's name ("Scroll Lock"; empty: not shared).
struct SessionDevices {
    std::vector<std::string> keyboards;
    SessionMouse mouse;
    std::string switchKey;
};

int runRelaySession(RelayControl& relay, const std::string& port, std::ostream& err,
                    const WaitForEvent& waitForEvent, const SessionDevices& devices = {});
