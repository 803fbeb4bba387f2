// InputDeviceName: a DEVICE as the user gives it for --keyboard or --mouse,
// and the event devices of Linux's input layer (/dev/input/eventN) it names.
//
// How DEVICE is read, the first rule that fits:
// 1. A path: it begins with "/", "./" or "../": a node (/dev/input/event3)
//    or a link to one (/dev/input/by-id/usb-...-event-kbd, by-path/...),
//    opened as it stands at each open, so that a link udev has moved to
//    another node is followed.
// 2. A node's name: "event" and a number (event3, as --list shows it),
//    meaning /dev/input/event3. A device whose own name is of that form is
//    named by its unique id or its node instead.
// 3. Anything else is a label, looked for among the event devices present:
//    first as a unique id (EVIOCGUNIQ, sysfs `uniq` of inputN: a Bluetooth
//    device's address, aa:bb:cc:dd:ee:01, letter case aside, as bluetoothctl
//    writes it in capitals); when no device present of the kind wanted has
//    that id, as a device's name exactly as --list shows it (EVIOCGNAME,
//    sysfs `name`: Keyboard K380; a name may hold spaces and slashes, as
//    "PS/2 Generic Mouse" does).
//
// A label names only devices of the kind wanted, by their capabilities in
// sysfs, so that the other nodes one device makes beside (a Bluetooth
// keyboard's media keys or touchpad, with the same address) do not count: a
// keyboard has a key of the main block (KEY_ESC to KEY_S: Esc, the digits,
// Tab, Enter, letters; udev's keyboard test wants all of them), a mouse
// relative motion on both axes (REL_X and REL_Y). The rest of the kind (a
// key the X68000 has) is the open's kind check (input_node.h).
//
// A label is looked up anew at each open, through libudev's enumeration of
// sysfs (which needs no udevd), so that a device found again under another
// node is opened there; an event device that udev announces is its return
// when its id or name and its kind fit. A label that fits several devices
// names none of them: the command line refuses it at start (ambiguity()),
// and an open later fails with their nodes named.
//
// Ownership: a value; it holds the text as given. Threads: any; present()
// and ambiguity() ask sysfs at each call.
#pragma once

#include <string>
#include <vector>

struct udev_device;

class InputDeviceName {
public:
    enum class Kind { Keyboard, Mouse };

    // The event devices a label fits now, their nodes (/dev/input/event5)
    // in number order; byUniqueId: found by their unique id, not by name.
    struct Found {
        std::vector<std::string> nodes;
        bool byUniqueId = false;
    };

    InputDeviceName(std::string given, Kind kind);

    // Whether it is a label (rule 3), which present() looks up.
    bool isLabel() const { return label; }
    // A path or a node's name: the path an open opens. A label: empty.
    const std::string& path() const { return nodePath; }
    // How messages name it: the path, or the label as given in double
    // quotes.
    const std::string& shown() const { return shownText; }

    // The devices present that a label fits; nothing for a path.
    Found present() const;
    // Whether the event device udev announced (its sysfs device there) is
    // one that the label fits; false for a path.
    bool fits(udev_device* event) const;
    // "name "Keyboard K380" fits /dev/input/event5 and /dev/input/event7"
    // (or "unique id ..."), for found with more than one node.
    std::string fitsSeveral(const Found& found) const;
    // Why the label cannot be used as given now, as the command line says
    // it: it fits several devices present ("the keyboard name ... fits ...:
    // name one by its node or unique id"). "" when it can, and for a path.
    std::string ambiguity() const;

private:
    bool fitsKind(udev_device* input) const;

    std::string given;
    Kind kind;
    bool label = false;
    std::string nodePath;
    std::string shownText;
};
