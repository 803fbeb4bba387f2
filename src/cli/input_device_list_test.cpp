// The input device list against emulated devices laid out as the kernel and
// udev present them, in umockdev's testbed.
#include "cli/input_device_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/emulated_input_device.h"

namespace {

std::vector<std::string> listed() {
    std::vector<std::string> out;
    for (const PortEntry& e : listInputDevices()) {
        out.push_back(entryText(e));
    }
    return out;
}

TEST(ListInputDevices, ShowsEventNodesWithKindIdAndLinkButNotTheX68000ZKeyboardsOwn) {
    EmulatedKeyboard testbed{{.present = false}};
    EmulatedInputDevice keyboard(testbed, {.eventNumber = 12});
    auto bluetooth = EmulatedInputDevice::bluetoothKeyboard();
    bluetooth.eventNumber = 8;
    EmulatedInputDevice k380(testbed, bluetooth);
    EmulatedInputDevice mouse(testbed, {.kind = EmulatedInputDevice::Kind::Mouse,
                                        .name = "Logitech USB Optical Mouse",
                                        .productId = 0xc077,
                                        .usbPort = 3,
                                        .eventNumber = 4});
    EmulatedInputDevice zKeyboard(testbed, {.name = "ZUIKI X68000Z Keyboard",
                                            .vendorId = 0x33dd,
                                            .productId = 0x0011,
                                            .usbPort = 2,
                                            .eventNumber = 3});
    // A laptop's own keyboard, where udev made no by-id link.
    testbed.addDevice(
        "P: /devices/platform/i8042/serio0/input/input1\nE: SUBSYSTEM=input\n"
        "A: name=AT Translated Set 2 keyboard\\n\n\n"
        "P: /devices/platform/i8042/serio0/input/input1/event1\nE: SUBSYSTEM=input\n"
        "E: DEVNAME=/dev/input/event1\nE: ID_INPUT=1\nE: ID_INPUT_KEY=1\n"
        "E: ID_INPUT_KEYBOARD=1\nE: "
        "DEVLINKS=/dev/input/by-path/platform-i8042-serio-0-event-kbd\n");

    EXPECT_EQ(listed(), (std::vector<std::string>{
                            "event1 - AT Translated Set 2 keyboard (keyboard)",
                            "event4 - Logitech USB Optical Mouse (mouse), "
                            "/dev/input/by-id/usb-Logitech_USB_Optical_Mouse-event-mouse",
                            "event8 - Keyboard K380 (keyboard), unique id aa:bb:cc:dd:ee:01",
                            "event12 - Logitech USB Keyboard (keyboard), "
                            "/dev/input/by-id/usb-Logitech_USB_Keyboard-event-kbd",
                        }));
}

}  // namespace
