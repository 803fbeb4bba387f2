// The built `pellora` program as a user or the service manager runs it: a real
// process using real libusb against the emulated keyboard (through the umockdev
// preload) and a real pty for the X68000's end of the line.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "usb/emulated_keyboard.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kBoot = EmulatedKeyboard::kBootEndpoint;
const Bytes kPressA{0, 0, 0x04, 0, 0, 0, 0, 0};
const Bytes kReleaseAll(8, 0);

// Declaration order is teardown order reversed: the children go first, then
// the pty, then the keyboard's testbed, which a child must never outlive.
class PelloraProcess : public ::testing::Test {
protected:
    explicit PelloraProcess(EmulatedKeyboard::Options options = {}) : kb(options) {}

    void TearDown() override {
        EXPECT_TRUE(kb.unexpectedIoctls().empty())
            << ::testing::PrintToString(kb.unexpectedIoctls());
    }

    std::unique_ptr<ChildProcess> startPellora(const std::vector<std::string>& args) {
        return std::make_unique<ChildProcess>(
            PELLORA_PROGRAM, args,
            std::vector<std::string>{"LD_PRELOAD=" + umockdevChildPreload(),
                                     "PELLORA_LOCK_FILE=" + (dir / "pellora.lock").string()});
    }

    // Starts pellora on the pty and waits until it says it relays.
    std::unique_ptr<ChildProcess> startRelaying() {
        auto p = startPellora({pty.portPath()});
        EXPECT_TRUE(p->waitForErrLine("Relaying the X68000 Z keyboard to " + pty.portPath() + "."))
            << p->err();
        return p;
    }

    void expectKeyboardGivenBack() {
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(kb.releases(i), 1) << "interface " << i;
            EXPECT_EQ(kb.reattaches(i), 1) << "interface " << i;
        }
        EXPECT_TRUE(kb.waitForCloses(kb.opens()));
    }

    EmulatedKeyboard kb;
    TempDir dir;
    PtyPair pty{true};
};

class PelloraWithoutKeyboard : public PelloraProcess {
protected:
    PelloraWithoutKeyboard() : PelloraProcess({.present = false}) {}
};

TEST_F(PelloraWithoutKeyboard, SaysSoFirstAndFails) {
    auto p = startPellora({pty.portPath()});
    EXPECT_EQ(p->waitExit(), 1);
    EXPECT_EQ(p->firstErrLine(), "Failed to initialize the X68000 Z keyboard.");
    EXPECT_NE(p->err().find("udev rule"), std::string::npos) << p->err();
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
}

TEST_F(PelloraProcess, PortThatCannotOpenIsNamedWithTheReason) {
    auto p = startPellora({"/nonexistent/ttyPELLORA"});
    EXPECT_EQ(p->waitExit(), 1);
    EXPECT_EQ(p->firstErrLine(),
              "cannot open /nonexistent/ttyPELLORA: No such file or directory"
              " (pellora --list shows the ports present)");
    expectKeyboardGivenBack();
}

TEST_F(PelloraProcess, RelaysKeysAndHostCommandsUntilSigterm) {
    auto p = startRelaying();
    kb.sendReport(kBoot, kPressA);
    kb.sendReport(kBoot, kReleaseAll);
    EXPECT_EQ(pty.read(2), (Bytes{0x1E, 0x9E}));
    pty.write({0xF7});
    ASSERT_TRUE(kb.waitForControlRequests(1));
    EXPECT_EQ(kb.controlRequests()[0].data[10], 0xFF);

    const auto signalled = std::chrono::steady_clock::now();
    p->signal(SIGTERM);
    // The service manager allows little time for a stop; two seconds is ours.
    EXPECT_EQ(p->waitExit(std::chrono::seconds(2)), 0) << p->err();
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
    EXPECT_NE(p->err().find("Stopped by SIGTERM."), std::string::npos) << p->err();
    expectKeyboardGivenBack();
}

TEST_F(PelloraProcess, InterruptAndHangUpStopCleanlyToo) {
    for (int sig : {SIGINT, SIGHUP}) {
        auto p = startRelaying();
        p->signal(sig);
        EXPECT_EQ(p->waitExit(), 0) << p->err();
    }
    EXPECT_EQ(kb.releases(0), 2);
    EXPECT_EQ(kb.releases(1), 2);
}

TEST_F(PelloraProcess, SecondInstanceIsRefusedAndTheFirstRunsOn) {
    auto first = startRelaying();
    PtyPair other{true};
    auto second = startPellora({other.portPath()});
    EXPECT_EQ(second->waitExit(), 1);
    EXPECT_EQ(second->firstErrLine(), "pellora is already running");
    EXPECT_EQ(kb.opens(), 1);  // the second never touched the keyboard
    kb.sendReport(kBoot, kPressA);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    first->signal(SIGTERM);
    EXPECT_EQ(first->waitExit(), 0);
}

TEST_F(PelloraProcess, UnpluggedKeyboardEndsTheRunWithStatus3) {
    auto p = startRelaying();
    kb.unplug();
    EXPECT_EQ(p->waitExit(), 3) << p->err();
    EXPECT_NE(p->err().find("The X68000 Z keyboard was disconnected."), std::string::npos)
        << p->err();
    EXPECT_TRUE(kb.waitForCloses(1));
}

TEST_F(PelloraProcess, VanishedSerialDeviceEndsTheRunWithStatus4) {
    auto p = startRelaying();
    pty.closeMaster();
    EXPECT_EQ(p->waitExit(), 4) << p->err();
    EXPECT_NE(p->err().find("The serial device " + pty.portPath() + " went away."),
              std::string::npos)
        << p->err();
    expectKeyboardGivenBack();
}

// A machine with a USB serial adapter, the 8250 driver's placeholder ttyS0
// (no UART behind it) and a virtual console: only the adapter is a port.
TEST_F(PelloraWithoutKeyboard, ListShowsRealSerialPortsOnly) {
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    kb.addDevice("P: " + usb +
                 "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                 "A: idVendor=0403\\n\nA: idProduct=6001\\n\nA: product=FT232R USB UART\\n\n");
    kb.addDevice("P: " + usb +
                 "/1-3:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=ftdi_sio\n");
    kb.addDevice("P: " + usb + "/1-3:1.0/ttyUSB0\nE: SUBSYSTEM=usb-serial\nE: DRIVER=ftdi_sio\n");
    kb.addDevice("P: " + usb +
                 "/1-3:1.0/ttyUSB0/tty/ttyUSB0\nN: ttyUSB0\nE: SUBSYSTEM=tty\n"
                 "E: DEVNAME=/dev/ttyUSB0\nL: device=../../../ttyUSB0\n");
    kb.addDevice("P: /devices/platform/serial8250\nE: SUBSYSTEM=platform\nE: DRIVER=serial8250\n");
    kb.addDevice(
        "P: /devices/platform/serial8250/tty/ttyS0\nN: ttyS0\nE: SUBSYSTEM=tty\n"
        "A: type=0\\n\nL: device=../../../serial8250\n");
    kb.addDevice("P: /devices/virtual/tty/tty1\nN: tty1\nE: SUBSYSTEM=tty\n");

    auto list = startPellora({"--list"});
    EXPECT_EQ(list->waitExit(), 0) << list->err();
    EXPECT_EQ(list->out(), "ttyUSB0 - FT232R USB UART\n");
}

TEST_F(PelloraWithoutKeyboard, ListWithNoPortSaysSoAndFails) {
    auto list = startPellora({"--list"});
    EXPECT_EQ(list->waitExit(), 1);
    EXPECT_EQ(list->out(), "");
    EXPECT_EQ(list->err(), "No serial port found.\n");
}

}  // namespace
