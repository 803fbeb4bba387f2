// EmulatedInputDevice: an input device (/dev/input/eventN) that unmodified
// libevdev opens, queries, grabs, reads and writes as it would a USB keyboard
// or mouse under Linux's evdev, for tests of the real libevdev code; and the
// sysfs devices and udev properties that a listing of input devices reads.
//
// How: it shares the umockdev testbed of an EmulatedKeyboard (make one with
// {.present = false} when the test needs no X68000 Z keyboard; it must outlive
// this object) and lays out, on the testbed's root hub, the chain the kernel
// and udev make: USB device 1-PORT, its interface bound to usbhid, the hid
// device, inputN with its name, unique id and capabilities/ bitmaps, and
// eventN with udev's ID_INPUT* properties and DEVLINKS (and, for a mouse, the
// legacy mouseN node beside it), plus the /dev/input/by-id/ and by-path/
// links; or a Bluetooth device's (Options::bluetooth), which has no USB
// device and no links. The node is a FIFO, so poll() on it
// sleeps until events are queued; its ioctl, read and write handler answers as
// evdev does:
// - EVIOCGBIT, EVIOCGNAME/PHYS/UNIQ, EVIOCGID, EVIOCGVERSION, EVIOCGPROP,
//   EVIOCGKEY/LED/SW/SND (EVIOCGKEY drops the key events queued, as evdev's
//   does), EVIOCGREP, EVIOCSCLOCKID; EVIOCGABS and
//   EVIOCGMTSLOTS fail with EINVAL (no axes). Any other 'E' ioctl fails with
//   EINVAL and is recorded in unexpectedIoctls(); other ioctls (FIONBIO) run
//   on the node itself.
// - EVIOCGRAB: 1 fails with EBUSY while any file holds the grab (the caller's
//   own included) or while another program holds it (holdGrabElsewhere());
//   0 fails with EINVAL unless the caller holds it; a file that closes gives
//   its grab back.
// - Events: press(), release(), move() and the rest write whole frames (EV_KEY
//   and EV_REL events and a SYN_REPORT) as the kernel passes them on (a
//   mouse's buttons are keys: BTN_LEFT, BTN_RIGHT, ...): an EV_KEY that
//   changes nothing is dropped (auto-repeat, value 2, always passes), a frame
//   left empty is not sent, nothing is queued while no file has the node open
//   or another program holds the grab, and each new open starts with an empty
//   queue. The key state (EVIOCGKEY) changes either way.
// - Writes: EV_LED events the device has change its LED state (EVIOCGLED),
//   and each change is passed back to the reader as EV_LED with a SYN_REPORT,
//   as the kernel does; every write is recorded (ledWrites()).
// - unplug(): from then on the files opened before get ENODEV from read(),
//   write() and ioctl(), and poll() on them wakes; then the links and the node
//   go and "remove" uevents go out, children first. plugIn() brings it back
//   under an eventN of the test's choice, the by-id link following it, with
//   "add" uevents that a libudev monitor in the process receives.
//
// Threads: umockdev's worker thread runs the handler; every public call is
// thread-safe. Construction, destruction, plugIn() and unplug() must not run
// at the same time as each other. umockdev announces no close: the emulator
// notices one when next asked (any call that looks at the files).
//
// Ownership: owns its ioctl handler, its end of the node and the emulated
// device's state; the testbed is the EmulatedKeyboard's. Several may exist at
// a time, each on its own USB port and event number.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "usb/emulated_keyboard.h"

class EmulatedInputDevice {
public:
    enum class Kind { Keyboard, Mouse };

    struct Options {
        Kind kind = Kind::Keyboard;
        std::string name = "Logitech USB Keyboard";  // inputN's name, EVIOCGNAME
        // inputN's uniq, EVIOCGUNIQ: a Bluetooth device's address, a USB
        // device's serial number; "" for none.
        std::string uniq{};
        std::uint16_t vendorId = 0x046d;
        std::uint16_t productId = 0xc31c;
        int usbPort = 4;       // the device is 1-PORT on the testbed's root hub
        int eventNumber = 5;   // /dev/input/eventN at the first plug-in
        bool byIdLink = true;  // udev made /dev/input/by-id/usb-NAME-event-kbd
        // On Bluetooth, as hidp makes it: bus 0x05 (EVIOCGID), under the
        // adapter's link to it (hci0:N, N from usbPort) with no USB device
        // above, ID_BUS bluetooth, no by-id or by-path link, phys the
        // adapter's address.
        bool bluetooth = false;
        bool kanaLed = false;  // LED_KANA beside Num, Caps and Scroll Lock
        bool pointer = false;  // a keyboard's pointing stick on its node: REL_X/Y, BTN_LEFT/RIGHT
        std::vector<int> keysDown{};  // KEY_* codes held at the first plug-in
        std::vector<int> ledsLit{};   // LED_* codes lit at the first plug-in
    };

    // A Bluetooth keyboard, Logitech's K380 at aa:bb:cc:dd:ee:01, on event5.
    static Options bluetoothKeyboard() {
        return {.name = "Keyboard K380",
                .uniq = "aa:bb:cc:dd:ee:01",
                .productId = 0xb342,
                .bluetooth = true};
    }

    // Plugs the device in. Throws std::runtime_error when umockdev refuses.
    explicit EmulatedInputDevice(EmulatedKeyboard& testbed);
    EmulatedInputDevice(EmulatedKeyboard& testbed, Options options);
    // Unplugs it (with uevents) if it is plugged in.
    ~EmulatedInputDevice();
    EmulatedInputDevice(const EmulatedInputDevice&) = delete;
    EmulatedInputDevice& operator=(const EmulatedInputDevice&) = delete;

    // "/dev/input/event5" now; "" while unplugged.
    std::string nodePath() const;
    // "/dev/input/by-id/usb-Logitech_USB_Keyboard-event-kbd" (the link may be
    // absent: Options::byIdLink, or unplugged).
    std::string byIdPath() const;

    // --- Device to program: one frame each --------------------------------
    void press(int code) { sendFrame({{code, 1}}); }
    void release(int code) { sendFrame({{code, 0}}); }
    void autoRepeat(int code) { sendFrame({{code, 2}}); }
    // Several key changes (code, value) in one frame.
    void sendFrame(const std::vector<std::pair<int, int>>& changes);
    // Several frames of key changes queued at once, as a reader finds them
    // that was busy while they came.
    void sendFrames(const std::vector<std::vector<std::pair<int, int>>>& frames);
    // A mouse's motion (REL_X, REL_Y; 0 sends no event for that axis), its
    // wheel turned by whole notches (+ up) and its buttons' changes (BTN_LEFT,
    // 1), in one frame. The wheel comes as Linux's HID driver reports a USB or
    // Bluetooth mouse's: REL_WHEEL and REL_WHEEL_HI_RES beside it, 120 a notch.
    void move(int dx, int dy, int wheel = 0, const std::vector<std::pair<int, int>>& buttons = {});
    // A high-resolution wheel turned by hiRes 120ths of a notch, in one
    // frame: REL_WHEEL_HI_RES, with REL_WHEEL only when the turns since the
    // last notch make up a whole one.
    void scroll(int hiRes);
    // The reader's buffer overflows: what it had not read is dropped and a
    // SYN_DROPPED takes its place; the changes given happen during the drop,
    // so they show only in the key state that a resync asks for.
    void overflow(const std::vector<std::pair<int, int>>& changes);

    // --- Program to device ------------------------------------------------
    // Whether LED code (LED_CAPSL, ...) is lit now.
    bool led(int code) const;
    // The EV_LED events (code, value) of each write(), in order.
    std::vector<std::vector<std::pair<int, int>>> ledWrites() const;

    // --- Grab -------------------------------------------------------------
    bool grabbed() const;  // a file of the program holds the grab now
    // It does, and has asked the key state since it took it: a program that
    // keeps a grab only with every key up has kept this one (a key pressed
    // from now on is its).
    bool grabKept() const;
    int grabs() const;    // EVIOCGRAB 1 that succeeded
    int ungrabs() const;  // EVIOCGRAB 0 that succeeded
    // Of those, the ones with a key or button down: the desktop never gets
    // its release.
    int ungrabsWithAKeyDown() const;
    // Keys that the desktop (any reader but the grab's holder) saw go down
    // and, the grab taken meanwhile, never saw go up, though they are up.
    int keysStuckOnTheDesktop() const;
    int reads() const;  // read() calls on the node, by any file
    // Waits until the reader has read everything queued (the node's queue is
    // as small as evdev's: a test that types a lot paces itself by this).
    bool waitUntilRead(std::chrono::milliseconds timeout = EmulatedKeyboard::kDefaultWait) const;
    // Another program holds the grab (or lets go of it).
    void holdGrabElsewhere(bool held);

    // --- Presence ---------------------------------------------------------
    void unplug();
    // Back as /dev/input/eventN, no key down. No-op if plugged in.
    void plugIn(int eventNumber);
    bool pluggedIn() const;

    int opens() const;   // times the node was opened (any plug-in)
    int closes() const;  // times an opened node was closed
    // Every ioctl this emulator did not expect, in words. Tests assert it is empty.
    std::vector<std::string> unexpectedIoctls() const;

    // Waits until cond() holds (true) or the time-out passes (false).
    bool waitFor(const std::function<bool()>& cond,
                 std::chrono::milliseconds timeout = EmulatedKeyboard::kDefaultWait) const;
    bool waitForCloses(int n,
                       std::chrono::milliseconds timeout = EmulatedKeyboard::kDefaultWait) const;

    struct State;  // shared with umockdev's worker thread

private:
    void sendMouseFrame(int dx, int dy, int wheelHiRes,
                        const std::vector<std::pair<int, int>>& buttons);

    EmulatedKeyboard& bed;
    std::shared_ptr<State> state;
};
