// The command line of pellora:
//     pellora [-l|--list] [-h|--help] [-V|--version]
//             [-k|--keyboard=DEVICE]... [--keymap=FILE] [--layout=LAYOUT]
//             [--share [--switch-key=KEY]]
//             [-m|--mouse=DEVICE --mouse-port=PORT2
//              [--mouse-scale=FACTOR] [--mouse-wheel=WHEEL]] [PORT]
// read into what to do, by getopt_long: long options may be abbreviated while
// the abbreviation names one option (--lis), short options may be combined
// (-lh), options may stand before or after PORT, and "--" ends the options, so
// a PORT may begin with '-'. --keyboard may be given more than once, for
// several keyboards at once. A wrong option or value, a keyboard named twice,
// --keymap, --layout or --share without --keyboard, --switch-key without
// --share, --mouse and --mouse-port one without the
// other, or --mouse-scale or --mouse-wheel without --mouse, is a wrong command line
// whatever else is asked; otherwise help wins over version, version over
// list, and list over PORT.
#pragma once

#include <linux/input-event-codes.h>

#include <string>
#include <vector>

#include "input/layout.h"

struct Options {
    enum class Action {
        Run,      // relay to port
        List,     // print the serial ports and the input devices
        Help,     // print the help
        Version,  // print the version
        Usage,    // no port named, or a wrong command line (see error)
    };
    Action action = Action::Usage;
    std::string port;  // for Run: a device path or a tty name, as given
    // The input devices to relay, as given, in order; none: the X68000 Z keyboard.
    std::vector<std::string> keyboards;
    std::string keymap;           // the key map file for them, as given; empty: none
    Layout layout = Layout::Jis;  // whose key tops they type (--layout)
    // --share: the keyboards and the mouse are the computer's until the
    // switch key (a Linux key code, --switch-key) is pressed twice.
    bool share = false;
    unsigned switchKey = KEY_SCROLLLOCK;
    std::string mouse;       // the input device to relay as the mouse, as given; empty: none
    std::string mousePort;   // the serial port its packets go to (PORT2), as given
    double mouseScale = 1;   // what the mouse's motion is multiplied by (0.1...10)
    bool mouseWheel = true;  // --mouse-wheel: roll (notches tap ROLL UP/DOWN), false: none
    std::string error;       // for Usage: what was wrong; empty when simply nothing was asked
};

// args: the arguments after the program's name. Uses getopt_long's global
// state: call it from one thread at a time.
Options parseOptions(const std::vector<std::string>& args);

// For a Run with a mouse: why PORT2 cannot be used, "" when it can. It must
// not be PORT itself, by name or by what the names lead to (two links to one
// device, /dev/ttyUSB0 and ttyUSB0): the two lines run at different speeds.
std::string mousePortRefusal(const Options& options);
