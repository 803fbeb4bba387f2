// InputKeyboard: a keyboard that Linux's input layer presents as an event
// device (/dev/input/eventN: USB, Bluetooth, PS/2, a laptop's own), read
// through libevdev, as the X68000's keyboard. It is the input-device back-end
// of KeyboardConnection (keyboard_connection.h), whose contract it keeps.
//
// The device: named, opened, grabbed, read and watched for as InputDevice
// (input_device.h) says, which InputKeyboard owns: a node, a link to one, the
// node's name (event3), or the keyboard's unique id or name, which fits only a
// device with keys of a keyboard's main block; the grab waits while a key is
// down; a device another program holds is Busy; a device unplugged while
// relayed is a loss, and its return is announced by udev.
//
// Keys: each change of a key (EV_KEY, value 1 or 0) becomes the makes and
// breaks of X68000 keys through a KeyTranslator (key_translator.h: the key
// map and layout given at construction, several keys on one X68000 key,
// SHIFT around a US or UK legend, which follows the host's かな LED); the
// kernel's auto-repeat (value 2) is ignored, as the relay repeats a held key
// itself. A break goes out only for a key whose make did, so a key that was
// down when the device was opened (the Enter that started the program) sends
// nothing when it goes up. Keys that change while the grab waits are the
// desktop's, and so is what was queued before it (input_node.h). After
// SYN_DROPPED libevdev's resync hands over the changes that were lost, so a
// key released during the drop still gets its break.
//
// One device may be keyboard and mouse at once: an InputMouse made on this
// keyboard's node() reads it too (input_device.h).
//
// Shared with the computer (a ShareSwitch given): the device is read all the
// time but grabbed only while the switch gives it to the X68000, the grab
// taken and given back only with every key up (input_node.h): a key goes to
// the side that saw it go down. Its switch key's presses go to the switch;
// on the X68000's side a single press is typed there once the switch's
// double-tap time has passed. Going to the computer, the X68000 gets the
// breaks of the keys it holds. The lamps show the host's LEDs only while the
// X68000 has the keyboard, and the computer's again when it gets it back.
//
// LEDs: the host's CAPS lights the device's Caps Lock lamp; its かな the Kana
// lamp where the device has one, else its Scroll Lock lamp; the host's other
// LEDs and brightness have no place on a PC keyboard. open() puts those lamps
// out (a connection opened anew shows no LED), and close() gives them back the
// state they had at open(). The kernel echoes every LED change back to every
// reader as EV_LED, which is ignored.
//
// Failures: as InputDevice's; a device without a key that the map gives an
// X68000 key (a mouse, a power button) is Other.
//
// Ownership: an InputKeyboard owns its InputDevice (the device, the udev
// monitor and the wake descriptor). It does not own the key queue. Threads: as
// KeyboardConnection says; keysQueued runs inside handleEvents().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input/input_connection.h"
#include "input/input_key_map.h"
#include "input/key_translator.h"
#include "io/byte_queue.h"
#include "keyboard/keyboard_connection.h"
#include "keyboard/share_switch.h"

struct input_event;

class InputKeyboard final : public InputConnection<KeyboardConnection> {
public:
    // device: as the user gave it (see above). keysQueued, if given, is called
    // inside the event handling after each frame of events (SYN_REPORT) that
    // put scan codes into keyQueue. watchHotplug false: never watch for the
    // device's return (the caller tries open() on a timer instead).
    // keys: the map and layout its keys go through (a map alone: positional).
    InputKeyboard(ByteQueue& keyQueue, std::string device, const KeyTranslator& keys,
                  std::function<void()> keysQueued = {}, bool watchHotplug = true);
    // The same on a node that another back-end reads too; share: the switch
    // that shares it with the computer (null: the X68000's alone).
    InputKeyboard(ByteQueue& keyQueue, std::shared_ptr<InputNode> node, const KeyTranslator& keys,
                  std::function<void()> keysQueued = {},
                  std::shared_ptr<ShareSwitch> share = nullptr);
    ~InputKeyboard() override;
    InputKeyboard(const InputKeyboard&) = delete;
    InputKeyboard& operator=(const InputKeyboard&) = delete;

    bool open() override;
    void close() override;
    bool presenceFromSystem() const override { return false; }
    bool holdsKeysDown() const override { return input.holdsKeysDown(); }
    int nextTimeoutMs() override { return -1; }
    // Until a withheld press of the switch key is due on the X68000.
    int msUntilDue(std::uint32_t now) const override;
    void handleEvents(int timeoutMs) override;
    void setLeds(std::int32_t brightness, std::int32_t mask) override;

private:
    bool hasMappedKey(const libevdev* device) const;
    void handleEvent(const input_event& ev);
    // Whether keys go to the X68000 now: grabbed, and not the computer's.
    bool relaying() const;
    // The switch key went down or up (a shared keyboard's).
    void switchKeyChanged(bool down);
    // The switch moved since last seen: the grab, the lamps and the keys
    // held follow it.
    void followSwitch();
    // A withheld press of the switch key, once its time is up.
    void typeWithheldTap();
    void send(const std::vector<std::uint8_t>& scanCodes);
    // Sets the Caps and かな lamps where they differ from what they show:
    // 0, or libevdev's -errno.
    int writeLeds(bool caps, bool kana);
    // Gives the lamps back (to a device still there), then the device.
    void releaseDevice();
    // Forgets what this connection kept: the keys sent down and the lamps.
    void forgetConnection();

    ByteQueue& keyQueue;
    const std::function<void()> keysQueued;

    KeyTranslator keys;
    std::vector<std::uint8_t> frameKeys;  // scan codes of one event, reused
    bool queuedInFrame = false;           // a scan code was queued since the last SYN_REPORT
    // The lamp that shows かな (LED_KANA or LED_SCROLLL; -1 for none), the
    // lamps' states at open(), and whether the host's state is shown now.
    int kanaLed = -1;
    bool capsAtOpen = false;
    bool kanaAtOpen = false;
    bool capsShown = false;
    bool kanaShown = false;
    std::int32_t hostMask = 0;  // the host's LEDs, as last set

    // Sharing: the switch, its moves as last followed, and what became of
    // the switch key's last press.
    const std::shared_ptr<ShareSwitch> share;
    std::uint64_t movesSeen = 0;
    enum class SwitchPress { None, Typed, Withheld, Swallowed };
    SwitchPress switchPress = SwitchPress::None;
    bool withheldReleased = false;  // the withheld press's key is up already
    std::uint32_t withheldAt = 0;   // at the switch's clock
};
