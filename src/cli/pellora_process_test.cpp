// The built `pellora` program as a user or the service manager runs it: a real
// process using real libusb against the emulated keyboard (through the umockdev
// preload) and a real pty for the X68000's end of the line.
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <linux/input-event-codes.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "input/emulated_input_device.h"
#include "support/child_process.h"
#include "support/notify_socket.h"
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
// the ptys, then the keyboard's testbed, which a child must never outlive.
class PelloraProcess : public ::testing::Test {
protected:
    explicit PelloraProcess(EmulatedKeyboard::Options options = {}) : kb(options) {}

    void TearDown() override {
        EXPECT_TRUE(kb.unexpectedIoctls().empty())
            << ::testing::PrintToString(kb.unexpectedIoctls());
    }

    std::unique_ptr<ChildProcess> startPellora(const std::vector<std::string>& args,
                                               std::vector<std::string> env = {}) {
        env.push_back("LD_PRELOAD=" + umockdevChildPreload());
        return std::make_unique<ChildProcess>(PELLORA_PROGRAM, args, env);
    }

    // Starts pellora on the pty and waits until it says it relays and the
    // host has heard the keyboard's ready byte.
    std::unique_ptr<ChildProcess> startRelaying() {
        auto p = startPellora({pty.portPath()});
        EXPECT_TRUE(p->waitForErrLine("Relaying the X68000 Z keyboard to " + pty.portPath() + "."))
            << p->err();
        EXPECT_EQ(pty.read(1), Bytes{0xFF});
        return p;
    }

    // A key pressed and let go arrives at the host end.
    void expectTyping() {
        kb.sendReport(kBoot, kPressA);
        kb.sendReport(kBoot, kReleaseAll);
        EXPECT_EQ(pty.read(2), (Bytes{0x1E, 0x9E}));
    }

    void expectKeyboardGivenBack() {
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(kb.releases(i), kb.claims(i)) << "interface " << i;
            EXPECT_EQ(kb.reattaches(i), kb.detaches(i)) << "interface " << i;
        }
        EXPECT_TRUE(kb.waitForCloses(kb.opens()));
    }

    // A USB serial adapter, FT232R, as ttyUSB0.
    void addSerialAdapter() {
        const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/1-3";
        kb.addDevice("P: " + usb +
                     "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                     "A: idVendor=0403\\n\nA: idProduct=6001\\n\nA: product=FT232R USB UART\\n\n");
        kb.addDevice("P: " + usb +
                     "/1-3:1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=ftdi_sio\n");
        kb.addDevice("P: " + usb +
                     "/1-3:1.0/ttyUSB0\nE: SUBSYSTEM=usb-serial\nE: DRIVER=ftdi_sio\n");
        kb.addDevice("P: " + usb +
                     "/1-3:1.0/ttyUSB0/tty/ttyUSB0\nN: ttyUSB0\nE: SUBSYSTEM=tty\n"
                     "E: DEVNAME=/dev/ttyUSB0\nL: device=../../../ttyUSB0\n");
    }

    EmulatedKeyboard kb;
    PtyPair pty{true};
};

class PelloraWithoutKeyboard : public PelloraProcess {
protected:
    PelloraWithoutKeyboard() : PelloraProcess({.present = false}) {}
};

TEST_F(PelloraWithoutKeyboard, WaitsForTheKeyboardThenRelays) {
    auto p = startPellora({pty.portPath()});
    ASSERT_TRUE(p->waitForErrLine("Relaying the X68000 Z keyboard to " + pty.portPath() + "."));
    EXPECT_EQ(p->firstErrLine(), "Waiting for the X68000 Z keyboard (USB 33DD:0011)...");
    kb.plugIn();
    ASSERT_TRUE(p->waitForErrLine("Keyboard connected.")) << p->err();
    EXPECT_EQ(pty.read(1), Bytes{0xFF});  // the ready byte, once both are there
    expectTyping();
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitExit(), 0) << p->err();
    expectKeyboardGivenBack();
}

TEST_F(PelloraProcess, PortThatCannotOpenIsNamedWithTheReason) {
    TempDir dir;
    const std::string file = (dir / "not-a-tty").string();
    std::ofstream(file) << "data";
    const std::pair<std::string, std::string> cases[] = {
        {"/nonexistent/ttyPELLORA",
         "cannot open /nonexistent/ttyPELLORA: No such file or directory"
         " (pellora --list shows the ports present)"},
        {file, "cannot open " + file + ": not a terminal"},
        {"/dev/null", "cannot open /dev/null: not a terminal"},
        {"../tmp/ttyS0",
         "cannot open ../tmp/ttyS0: not a port name (a name that --list shows, "
         "or an absolute path)"},
    };
    const int opens = kb.opens();
    for (const auto& [port, line] : cases) {
        auto p = startPellora({port});
        EXPECT_EQ(p->waitExit(), 1);
        EXPECT_EQ(p->firstErrLine(), line);
    }
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "data");  // untouched
    // The port is tried first: the keyboard stayed with the kernel's driver.
    EXPECT_EQ(kb.opens(), opens);
    expectKeyboardGivenBack();
}

TEST_F(PelloraProcess, RelaysUntilAStopSignalAndGivesBackKeyboardAndLine) {
    termios before{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &before), 0);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        auto p = startRelaying();
        expectTyping();
        // Taken before the stop, so the line's settings are put back after it.
        const std::size_t reports = kb.controlRequests().size();
        pty.write({0xF7});
        ASSERT_TRUE(kb.waitForControlRequests(reports + 1));
        p->signal(sig);
        EXPECT_EQ(p->waitExit(), 0) << p->err();
        const char* name = sig == SIGTERM ? "SIGTERM" : sig == SIGINT ? "SIGINT" : "SIGHUP";
        EXPECT_NE(p->err().find(std::string("Stopped by ") + name), std::string::npos) << p->err();
        expectKeyboardGivenBack();
        termios after{};
        ASSERT_EQ(tcgetattr(pty.masterFd(), &after), 0);
        EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
        EXPECT_EQ(after.c_lflag, before.c_lflag);  // the line as it was found
        EXPECT_EQ(after.c_cflag, before.c_cflag);
    }
}

TEST_F(PelloraProcess, AStderrNobodyReadsDoesNotStopTheHandOver) {
    auto p = startRelaying();
    p->closeErr();
    p->signal(SIGINT);  // "Stopped by SIGINT." now goes to a pipe with no reader
    EXPECT_EQ(p->waitExit(), 0);
    expectKeyboardGivenBack();
}

TEST_F(PelloraProcess, ASecondPelloraFindsKeyboardOrPortInUseAndTheFirstRunsOn) {
    auto first = startRelaying();
    PtyPair other{true};
    auto second = startPellora({other.portPath()});
    EXPECT_EQ(second->waitExit(), 1);
    EXPECT_EQ(second->firstErrLine(), "Failed to initialize the X68000 Z keyboard.");
    EXPECT_NE(second->err().find("perhaps another pellora"), std::string::npos) << second->err();
    auto third = startPellora({pty.portPath()});  // the first one's port too
    EXPECT_EQ(third->waitExit(), 1);
    EXPECT_NE(third->err().find("perhaps another pellora"), std::string::npos) << third->err();
    expectTyping();
    first->signal(SIGTERM);
    EXPECT_EQ(first->waitExit(), 0);
}

TEST_F(PelloraProcess, RidesThroughUnplugsOfKeyboardAndPort) {
    auto p = startRelaying();
    pty.write({0xF7});  // LED 3 lit
    ASSERT_TRUE(kb.waitForControlRequests(1));

    kb.unplug();
    ASSERT_TRUE(p->waitForErrLine("Keyboard disconnected; waiting for it.")) << p->err();
    kb.plugIn();
    ASSERT_TRUE(p->waitForErrLine("Keyboard connected.")) << p->err();
    // The keyboard came back with its LEDs dark: the host's are lit again.
    ASSERT_TRUE(kb.waitForControlRequests(2));
    EXPECT_EQ(kb.controlRequests()[1].data, kb.controlRequests()[0].data);
    EXPECT_EQ(pty.read(1), Bytes{0xFF});
    expectTyping();

    // The adapter goes, and a new one appears under the same name.
    PtyPair replacement{true};
    pty.closeMaster();
    ASSERT_TRUE(p->waitForErrLine("Lost " + pty.portPath() + "; waiting for it.")) << p->err();
    replacement.linkAs(pty.portPath());
    ASSERT_TRUE(p->waitForErrLine(pty.portPath() + " is back.")) << p->err();
    kb.sendReport(kBoot, kPressA);
    EXPECT_EQ(replacement.read(2), (Bytes{0xFF, 0x1E}));
    EXPECT_EQ(p->waitExit(std::chrono::milliseconds(0)), std::nullopt);  // it runs on
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitExit(), 0) << p->err();
}

TEST_F(PelloraProcess, TellsTheServiceManagerWhatItDoes) {
    NotifySocket systemd;
    const std::string port = pty.portPath();
    auto p = startPellora({port}, {systemd.environment()});
    ASSERT_TRUE(systemd.waitForLine("READY=1")) << p->err();
    EXPECT_EQ(systemd.received().back(), "READY=1\nSTATUS=Relaying to " + port);
    kb.unplug();
    EXPECT_TRUE(systemd.waitForLine("STATUS=" + port + ": keyboard disconnected, waiting for it"));
    kb.plugIn();
    EXPECT_TRUE(systemd.waitForLine("STATUS=Relaying to " + port));
    pty.closeMaster();
    EXPECT_TRUE(systemd.waitForLine("STATUS=Lost " + port + ", waiting for it"));
    p->signal(SIGTERM);
    EXPECT_TRUE(systemd.waitForLine("STOPPING=1"));
    EXPECT_EQ(p->waitExit(), 0) << p->err();
    // What `systemctl status` shows as it happens, for whoever reads the log.
    for (const std::string& message : systemd.received()) {
        std::cout << "systemd heard: " << testing::PrintToString(message) << "\n";
    }
}

// Under a Japanese locale the session speaks Japanese, from the catalogue the
// build made beside the program; what systemd is told stays English, as logs
// are searched in English. scripts/setup.sh makes the locale.
TEST_F(PelloraProcess, SpeaksTheUsersLanguageButTellsTheServiceManagerInEnglish) {
    NotifySocket systemd;
    const std::string port = pty.portPath();
    auto p = startPellora({port}, {systemd.environment(), "LANG=ja_JP.UTF-8",
                                   "LC_ALL=", "LC_MESSAGES=", "LANGUAGE="});
    ASSERT_TRUE(p->waitForErrLine("X68000 Z キーボード を " + port + " に中継します。"))
        << p->err() << "(no ja_JP.UTF-8 locale? `locale -a` lists those made)";
    ASSERT_TRUE(systemd.waitForLine("READY=1")) << p->err();
    EXPECT_EQ(systemd.received().back(), "READY=1\nSTATUS=Relaying to " + port);
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitExit(), 0) << p->err();
    EXPECT_NE(p->err().find("SIGTERM で停止しました。"), std::string::npos) << p->err();
}

TEST_F(PelloraProcess, WatchdogPingsOnlyWhileTheWorkerAnswers) {
    NotifySocket systemd;
    auto p = startPellora({pty.portPath()}, {systemd.environment(), "WATCHDOG_USEC=200000"});
    for (int i = 0; i < 3; ++i) {  // a look every 100 ms
        ASSERT_TRUE(systemd.waitForLine("WATCHDOG=1")) << p->err();
    }
    // The emulated kernel stops answering: the worker, woken to reap the
    // report, hangs in libusb.
    kb.holdIoctls(true);
    kb.sendReport(kBoot, kPressA);
    kb.sendReport(kBoot, kReleaseAll);
    // Ten looks: at most the pings of the passes made before the hang.
    int pings = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (const auto message = systemd.next(std::chrono::duration_cast<std::chrono::milliseconds>(
               end - std::chrono::steady_clock::now()))) {
        pings += *message == "WATCHDOG=1";
    }
    EXPECT_LE(pings, 2);
    kb.holdIoctls(false);
    EXPECT_EQ(pty.read(3), (Bytes{0xFF, 0x1E, 0x9E}));  // the worker relays on
    EXPECT_TRUE(systemd.waitForLine("WATCHDOG=1"));
    p->signal(SIGTERM);
    EXPECT_TRUE(systemd.waitForLine("STOPPING=1"));
    EXPECT_EQ(p->waitExit(), 0) << p->err();
}

// A machine with a USB serial adapter, the 8250 driver's placeholder ttyS0
// (no UART behind it) and a virtual console: only the adapter is a port.
TEST_F(PelloraWithoutKeyboard, ListShowsRealSerialPortsOnly) {
    addSerialAdapter();
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

// pellora relaying a PC keyboard of the input layer, named by its by-id link.
class PelloraWithAnInputDevice : public PelloraWithoutKeyboard {
protected:
    explicit PelloraWithAnInputDevice(EmulatedInputDevice::Options options = {})
        : device(kb, std::move(options)) {}

    void TearDown() override {
        PelloraWithoutKeyboard::TearDown();
        EXPECT_TRUE(device.waitForCloses(device.opens()));
        EXPECT_FALSE(device.grabbed());  // given back at exit
        EXPECT_TRUE(device.unexpectedIoctls().empty())
            << ::testing::PrintToString(device.unexpectedIoctls());
    }

    std::unique_ptr<ChildProcess> startOnDevice() {
        return startPellora({"--keyboard=" + link, pty.portPath()});
    }

    // Every line pellora said, once it has exited.
    static std::vector<std::string> linesOf(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // The keyboard, with Shift held, unplugged and back as eventN, and the
    // program's lines of a run that ended there, relaying as it said first.
    void unplugWithShiftHeldAndBack(ChildProcess& p, int eventNumber, const std::string& relaying) {
        device.press(KEY_LEFTSHIFT);
        EXPECT_EQ(pty.read(1), Bytes{0x70});
        device.unplug();
        ASSERT_TRUE(p.waitForErrLine("Keyboard disconnected; waiting for it.")) << p.err();
        EXPECT_EQ(pty.read(1), Bytes{0xF0});
        device.plugIn(eventNumber);
        ASSERT_TRUE(p.waitForErrLine("Keyboard connected.")) << p.err();
        EXPECT_EQ(pty.read(1), Bytes{0xFF});
        device.press(KEY_B);
        EXPECT_EQ(pty.read(1), Bytes{0x2E});
        p.signal(SIGTERM);
        EXPECT_EQ(p.waitExit(), 0) << p.err();
        EXPECT_EQ(linesOf(p.err()),
                  (std::vector<std::string>{relaying, "Keyboard disconnected; waiting for it.",
                                            "Keyboard connected.", "Stopped by SIGTERM."}));
    }

    EmulatedInputDevice device;
    const std::string link = device.byIdPath();
};

TEST_F(PelloraWithAnInputDevice, RelaysItAndRidesThroughAnUnplugWithShiftHeld) {
    auto p = startOnDevice();
    const std::string relaying = "Relaying the keyboard " + link + " to " + pty.portPath() + ".";
    ASSERT_TRUE(p->waitForErrLine(relaying)) << p->err();
    EXPECT_EQ(pty.read(1), Bytes{0xFF});
    EXPECT_TRUE(device.grabbed());
    device.press(KEY_A);
    device.release(KEY_A);
    EXPECT_EQ(pty.read(2), (Bytes{0x1E, 0x9E}));
    // The relay's own tests hold the host's LEDs across the return; here the
    // program's words and the link followed to another node.
    unplugWithShiftHeldAndBack(*p, 9, relaying);
}

TEST_F(PelloraWithAnInputDevice, WaitsForItAndForAnotherProgramToLetGoOfIt) {
    device.unplug();
    device.holdGrabElsewhere(true);
    auto p = startOnDevice();
    ASSERT_TRUE(p->waitForErrLine("Relaying the keyboard " + link)) << p->err();
    EXPECT_EQ(p->firstErrLine(), "Waiting for the keyboard " + link + "...");
    device.plugIn(5);
    ASSERT_TRUE(p->waitForErrLine("Keyboard refused: another program holds it; waiting for it."))
        << p->err();
    device.holdGrabElsewhere(false);
    ASSERT_TRUE(p->waitForErrLine("Keyboard connected.")) << p->err();  // the next try
    EXPECT_EQ(pty.read(1), Bytes{0xFF});
    device.press(KEY_A);
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitExit(), 0) << p->err();
}

TEST_F(PelloraWithAnInputDevice, ListShowsTheSerialPortsThenTheInputDevices) {
    addSerialAdapter();
    auto list = startPellora({"--list"});
    EXPECT_EQ(list->waitExit(), 0) << list->err();
    EXPECT_EQ(
        list->out(),
        "ttyUSB0 - FT232R USB UART\nevent5 - Logitech USB Keyboard (keyboard), " + link + "\n");
}

// A Bluetooth keyboard, which has no by-id link and may come back under
// another node, named by its name or its address.
class PelloraWithABluetoothKeyboard : public PelloraWithAnInputDevice {
protected:
    PelloraWithABluetoothKeyboard()
        : PelloraWithAnInputDevice(EmulatedInputDevice::bluetoothKeyboard()) {}
};

TEST_F(PelloraWithABluetoothKeyboard, NamedByItsNameItIsFoundAgainUnderAnotherNode) {
    auto p = startPellora({"--keyboard=Keyboard K380", pty.portPath()});
    const std::string relaying =
        "Relaying the keyboard \"Keyboard K380\" to " + pty.portPath() + ".";
    ASSERT_TRUE(p->waitForErrLine(relaying)) << p->err();
    EXPECT_EQ(pty.read(1), Bytes{0xFF});
    // Found again by the next try (no udevd under the emulator).
    unplugWithShiftHeldAndBack(*p, 9, relaying);
}

TEST_F(PelloraWithABluetoothKeyboard, ANameThatFitsTwoIsAWrongCommandLineAndTheirIdsTellThemApart) {
    auto options = EmulatedInputDevice::bluetoothKeyboard();
    options.uniq = "aa:bb:cc:dd:ee:02";
    options.usbPort = 6;
    options.eventNumber = 7;
    EmulatedInputDevice second(kb, options);
    auto p = startPellora({"--keyboard=Keyboard K380", pty.portPath()});
    EXPECT_EQ(p->waitExit(), 2);
    EXPECT_EQ(p->err(),
              "pellora: the keyboard name \"Keyboard K380\" fits /dev/input/event5 and "
              "/dev/input/event7: name one by its node or unique id\n");
    EXPECT_EQ(device.opens() + second.opens(), 0);  // nothing was taken

    p = startPellora({"-k", "aa:bb:cc:dd:ee:02", pty.portPath()});
    ASSERT_TRUE(
        p->waitForErrLine("Relaying the keyboard \"aa:bb:cc:dd:ee:02\" to " + pty.portPath() + "."))
        << p->err();
    EXPECT_EQ(pty.read(1), Bytes{0xFF});
    EXPECT_TRUE(second.grabbed());
    EXPECT_EQ(device.opens(), 0);
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitExit(), 0) << p->err();
    EXPECT_TRUE(second.waitForCloses(second.opens()));
}

// pellora relaying the X68000 Z keyboard with a mouse beside it, whose
// packets go to a second pty, as the wire to MSDATA.
class PelloraWithAMouse : public PelloraProcess {
protected:
    void TearDown() override {
        PelloraProcess::TearDown();
        EXPECT_TRUE(mouse.waitForCloses(mouse.opens()));
        EXPECT_FALSE(mouse.grabbed());  // given back at exit
    }

    EmulatedInputDevice mouse{kb,
                              {.kind = EmulatedInputDevice::Kind::Mouse,
                               .name = "Logitech USB Optical Mouse",
                               .usbPort = 5,
                               .eventNumber = 6}};
    PtyPair mouseLine{true};
};

TEST_F(PelloraWithAMouse, AnswersTheHostsRequestsOnItsOwnLineAndRidesThroughAnUnplug) {
    auto p = startPellora({"--mouse=event6", "--mouse-port=" + mouseLine.portPath(),
                           "--mouse-scale=0.5", pty.portPath()});
    const std::string relaying =
        "Relaying the mouse /dev/input/event6 to " + mouseLine.portPath() + ".";
    ASSERT_TRUE(p->waitForErrLine(relaying)) << p->err();
    EXPECT_EQ(pty.read(1), Bytes{0xFF});
    // The line comes once the ports are open; the mouse is relayed from the
    // grab it keeps.
    ASSERT_TRUE(mouse.waitFor([&] { return mouse.grabKept(); }));
    mouse.move(4, 5, 0, {{BTN_LEFT, 1}});
    pty.write({0x41, 0x40});
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x01, 2, 3}));  // halved, 2.5 rounded up
    mouse.unplug();
    ASSERT_TRUE(p->waitForErrLine("Mouse disconnected; waiting for it.")) << p->err();
    mouse.plugIn(6);  // found by the next try, within 0.9 s (no udevd under the emulator)
    ASSERT_TRUE(p->waitForErrLine("Mouse connected.")) << p->err();
    pty.write({0x41, 0x40});
    EXPECT_EQ(mouseLine.read(3), (Bytes{0x00, 0, 0}));  // its buttons up, as it came back
    expectTyping();
    p->signal(SIGTERM);
    EXPECT_EQ(p->waitExit(), 0) << p->err();
    EXPECT_EQ(p->firstErrLine(), "Relaying the X68000 Z keyboard to " + pty.portPath() + ".");
    expectKeyboardGivenBack();
}

TEST_F(PelloraWithAMouse, APort2ThatLeadsToPortIsAWrongCommandLine) {
    TempDir dir;
    const std::string link = (dir / "keys").string();
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), link.c_str()), 0);
    auto p = startPellora({"-m", "event6", "--mouse-port=" + link, pty.portPath()});
    EXPECT_EQ(p->waitExit(), 2);
    EXPECT_EQ(p->firstErrLine(),
              "pellora: --mouse-port names PORT itself: the mouse needs a serial port of its own");
    EXPECT_EQ(mouse.opens(), 0);  // nothing was taken
    EXPECT_EQ(kb.opens(), 0);
}

}  // namespace
