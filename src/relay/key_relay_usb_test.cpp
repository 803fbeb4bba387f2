// The relay end to end: emulated keyboard -> real libusb -> worker -> real pty,
// and host commands back from the pty to the keyboard's LEDs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <atomic>
#include <thread>

#include "keyboard/endpoint_recovery.h"
#include "usb/relay_fixture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kBoot = EmulatedKeyboard::kBootEndpoint;
constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;
constexpr std::uint8_t A = 0x04, B = 0x05;

Bytes bootWith(std::uint8_t usage) {
    return {0, 0, usage, 0, 0, 0, 0, 0};
}
const Bytes kBootEmpty(8, 0);

// The 65-byte LED feature report with the given bytes set.
Bytes ledReport(std::initializer_list<std::pair<int, std::uint8_t>> lit) {
    Bytes r(65, 0);
    r[0] = 0x0A;
    r[1] = 0xF8;
    for (const auto& [index, level] : lit) {
        r[index] = level;
    }
    return r;
}

EmulatedKeyboard::ControlRequest setReport(Bytes data) {
    return {0x21, 0x09, 0x030A, 1, 65, std::move(data)};
}

const Bytes kShiftDown = {0x02, 0, 0, 0, 0, 0, 0, 0};

// Where adapterRecord() puts a USB adapter in the testbed's sysfs.
std::string adapterPath(const std::string& usbPort) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + usbPort;
}

// An FT232R USB-serial adapter with this serial number, plugged into usbPort
// ("1-3"), whose tty is the pty behind line: the relay finds the adapter by
// the tty's device number, as it finds a real one behind /dev/ttyUSB0.
std::string adapterRecord(const std::string& usbPort, const std::string& serial,
                          const PtyPair& line) {
    struct stat st {};
    EXPECT_EQ(::stat(line.portPath().c_str(), &st), 0);
    const std::string device = adapterPath(usbPort).substr(4);
    // Names of its own: umockdev links every one into /sys/class and /sys/bus.
    const std::string name = "ttyUSB" + usbPort.substr(usbPort.find('-') + 1);
    const std::string tty = device + "/" + usbPort + ":1.0/" + name + "/tty/" + name;
    const std::string node = "pellora-test/" + usbPort;  // the testbed's own, never opened
    return "P: " + device + "\nE: SUBSYSTEM=usb\nA: idVendor=0403\\n\nA: idProduct=6001\\n\n" +
           "A: serial=" + serial + "\\n\n\n" + "P: " + device + "/" + usbPort +
           ":1.0\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n" + "A: bInterfaceNumber=00\\n\n\n" +
           "P: " + device + "/" + usbPort + ":1.0/" + name + "\nE: SUBSYSTEM=usb-serial\n\n" +
           "P: " + tty + "\nN: " + node + "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + node + "\n" +
           "A: dev=" + std::to_string(::major(st.st_rdev)) + ":" +
           std::to_string(::minor(st.st_rdev)) + "\\n\n";
}

class Relay : public RelayOnEmulatedKeyboard {
protected:
    using RelayOnEmulatedKeyboard::RelayOnEmulatedKeyboard;
};

TEST_F(Relay, BootReportsBecomeMakesAndBreaks) {
    kb.sendReport(kBoot, {0x02, 0, A, 0, 0, 0, 0, 0});
    kb.sendReport(kBoot, {0x02, 0, A, B, 0, 0, 0, 0});
    kb.sendReport(kBoot, {0x00, 0, B, 0, 0, 0, 0, 0});
    kb.sendReport(kBoot, kBootEmpty);
    EXPECT_EQ(pty.read(6), (Bytes{0x70, 0x1E, 0x2E, 0xF0, 0x9E, 0xAE}));
    EXPECT_TRUE((relay.status().keyboard().state == KeyboardState::Connected));
}

TEST_F(Relay, BitmapReportsBecomeMakesAndBreaks) {
    Bytes down(16, 0);
    down[0] = 0x30;  // usages 0x04 (A) and 0x05 (B)
    kb.sendReport(kBitmap, down);
    kb.sendReport(kBitmap, Bytes(16, 0));
    EXPECT_EQ(pty.read(4), (Bytes{0x1E, 0x2E, 0x9E, 0xAE}));
}

TEST_F(Relay, WrongLengthReportIsDroppedAndItsTransferResubmitted) {
    const int submitted = kb.submits(kBoot);
    kb.sendReport(kBoot, {0, 0, A, 0, 0, 0, 0});  // 7 bytes
    ASSERT_TRUE(kb.waitForSubmits(kBoot, submitted + 1));
    kb.sendReport(kBoot, bootWith(B));
    EXPECT_EQ(pty.read(1), Bytes{0x2E});  // nothing came of the short report
}

TEST_F(Relay, AKeyPressedWhileNoWorkerRanIsNotTypedByTheNext) {
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    relay.stop();                       // lets go of A
    kb.sendReport(kBoot, bootWith(B));  // completes with nobody handling events
    relay.start(pty.portPath());
    // B's make was decoded before the new worker took the line, and dropped;
    // its release goes out as every release does.
    EXPECT_EQ(pty.read(2), (Bytes{0x9E, kReadyByte}));
    kb.sendReport(kBoot, kBootEmpty);
    EXPECT_EQ(pty.read(1), Bytes{0xAE});
}

TEST_F(Relay, BreaksAStoppedWorkerOwedGoFirstWhenItsPortIsChosenAgain) {
    kb.sendReport(kBoot, kShiftDown);
    EXPECT_EQ(pty.read(1), Bytes{0x70});
    PtyPair replacement{true};
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));
    relay.stop();  // Shift's break has no line: it stays owed to this port
    PtyPair other;
    relay.start(other.slavePath());
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    EXPECT_EQ(other.read(1), Bytes{kReadyByte});  // not owed there
    replacement.linkAs(pty.portPath());
    relay.start(pty.portPath());
    EXPECT_EQ(replacement.read(2), (Bytes{0xF0, kReadyByte}));
}

TEST_F(Relay, UnplugLetsGoOfHeldKeysThenKeepsTheLineQuiet) {
    kb.sendReport(kBoot, {0x02, 0, A, 0, 0, 0, 0, 0});  // Shift and A stay held
    EXPECT_EQ(pty.read(2), (Bytes{0x70, 0x1E}));
    kb.unplug();
    // The host must not be left holding them.
    EXPECT_EQ(pty.read(2), (Bytes{0x9E, 0xF0}));
    ASSERT_TRUE(
        waitFor([&] { return (relay.status().keyboard().state != KeyboardState::Connected); }));
    advanceClockTo(clock.get() + 60000);  // long past any repeat
    pty.write({0xF7});
    advanceClockTo(clock.get());  // a pass that reads the command ends before
    advanceClockTo(clock.get());  // the next one starts
    EXPECT_EQ(relay.status().port, PortState::Open);
    // Nothing came: no repeat, no echo, and no LED report for a keyboard away.
    relay.stop();
    EXPECT_EQ(pty.restOfLine(), Bytes{});
    EXPECT_TRUE(kb.controlRequests().empty());
}

TEST_F(Relay, AnEndpointThatCannotBeReadAgainIsALostKeyboardThenTriedAgain) {
    kb.sendReport(kBoot, bootWith(A));  // A held, its repeat armed
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    kb.failNextSubmit(kBitmap);
    ASSERT_TRUE(kb.failTransfer(kBitmap));  // an error, then, after a pause, no resubmission
    ASSERT_TRUE(kb.waitFor([&] { return !kb.inFlight(kBitmap); }));
    advanceClockTo(clock.get());  // a pass after the error's: its pause runs from now
    advanceClockTo(clock.get() + EndpointRecovery::kFirstPauseMs);
    EXPECT_EQ(pty.read(1), Bytes{0x9E});  // the host lets go of A
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    EXPECT_EQ(KeyRelayTestPeer::repeat(relay).repeatCode, 0);
    // Still plugged in, so nothing announces it: one try a second later finds it.
    advanceClockTo(clock.get() + KeyRelay::kKeyboardRetryMs);
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    kb.sendReport(kBoot, bootWith(B));
    EXPECT_EQ(pty.read(2), (Bytes{kReadyByte, 0x2E}));
}

TEST_F(Relay, AReturningKeyboardTypesAgainWithTheHostsLedsAndRepeatTimes) {
    hostSendsAndWait({0x60, 0x57});  // delay 200 ms, the dimmest level, and a marker LED
    const auto before = kb.controlRequests();
    kb.unplug();
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    const std::uint64_t changes = relay.status().changes;
    kb.plugIn();  // libusb tells of it: no clock needs to move
    // The host hears that the keyboard is back, and the keyboard gets the
    // host's LEDs again, in one report.
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
    ASSERT_TRUE(kb.waitForControlRequests(before.size() + 1));
    EXPECT_EQ(kb.controlRequests().back().data, before.back().data);
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    EXPECT_GT(relay.status().changes, changes);
    const std::uint32_t pressedAt = clock.get();
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    advanceClockTo(pressedAt + 200);  // the host's delay survived
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
}

TEST_F(Relay, ALostPortIsOpenedAgainByNameAndKeysTypedMeanwhileAreDropped) {
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    PtyPair replacement{true};
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));
    sendAndWaitForItsPass(kBoot, bootWith(B));  // typed while the line is away
    replacement.linkAs(pty.portPath());
    advanceClockTo(clock.get() + KeyRelay::kPortRetryMs);
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    // The new line first hears the keys the old one was told are down let go,
    // then that the keyboard is there.
    EXPECT_EQ(replacement.read(2), (Bytes{0x9E, kReadyByte}));
    kb.sendReport(kBoot, kBootEmpty);
    EXPECT_EQ(replacement.read(1), Bytes{0xAE});  // B's break: its make was dropped
}

TEST_F(Relay, AKeyHeldThroughTheLossOfPortAndKeyboardIsLetGoFirstOnTheReturningLine) {
    kb.sendReport(kBoot, kShiftDown);
    EXPECT_EQ(pty.read(1), Bytes{0x70});
    PtyPair replacement{true};
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));
    kb.unplug();  // one hub took both: Shift's break has no line to go to
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    replacement.linkAs(pty.portPath());
    advanceClockTo(clock.get() + KeyRelay::kPortRetryMs);
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    EXPECT_EQ(replacement.read(1), Bytes{0xF0});
    relay.stop();
    EXPECT_EQ(replacement.restOfLine(), Bytes{});  // once, and no ready byte without a keyboard
}

TEST_F(Relay, AKeyboardLostAgainDuringTheReopensLedReportIsLetGoAndTriedAgain) {
    pty.write({0xF7});
    ASSERT_TRUE(kb.waitForControlRequests(1));
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::Gone);
    pty.write({0xF3});  // the next LED change finds it gone
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    // Held while it was away: reported as soon as it is open again, as it
    // finished before the LED report that finds the keyboard gone again.
    kb.sendReport(kBoot, kShiftDown);
    advanceClockTo(clock.get() + KeyRelay::kKeyboardRetryMs);
    EXPECT_EQ(pty.read(3), (Bytes{kReadyByte, 0x70, 0xF0}));
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    EXPECT_EQ(KeyRelayTestPeer::repeat(relay).repeatCode, 0);
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::Ack);
    const std::size_t sent = kb.controlRequests().size();
    advanceClockTo(clock.get() + KeyRelay::kKeyboardRetryMs);  // still plugged in: tried again
    ASSERT_TRUE(kb.waitForControlRequests(sent + 1));
    EXPECT_EQ(kb.controlRequests().back().data, ledReport({{9, 0xFF}, {10, 0xFF}}));
    EXPECT_EQ(pty.read(1), Bytes{kReadyByte});
}

TEST_F(Relay, APortNameThatReturnsOnAnotherAdapterIsNotOpenedUntilItsOwnIsBack) {
    kb.addDevice(adapterRecord("1-3", "A1B2C3", pty));
    relay.stop();
    startRelay();  // the first open learns which adapter the name is
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    PtyPair printer{true}, same{true};
    pty.closeMaster();
    kb.removeDevice(adapterPath("1-3"));
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Reopening; }));

    kb.addDevice(adapterRecord("1-4", "PRN0001", printer));  // the next board gets the name
    printer.linkAs(pty.portPath());
    advanceClockTo(clock.get() + KeyRelay::kPortRetryMs);
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::OtherDevice; }));
    advanceClockTo(clock.get() + KeyRelay::kPortRetryMs);  // and so it stays
    EXPECT_EQ(relay.status().port, PortState::OtherDevice);
    EXPECT_EQ(printer.restOfLine(), Bytes{});

    kb.removeDevice(adapterPath("1-4"));
    kb.addDevice(adapterRecord("1-5", "A1B2C3", same));  // ours again, in another USB port
    same.linkAs(pty.portPath());
    advanceClockTo(clock.get() + KeyRelay::kPortRetryMs);
    ASSERT_TRUE(waitFor([&] { return relay.status().port == PortState::Open; }));
    EXPECT_EQ(same.read(2), (Bytes{0x9E, kReadyByte}));
}

TEST_F(Relay, AHaltedEndpointIsClearedAndTypesAgain) {
    kb.haltEndpoint(kBoot);
    ASSERT_TRUE(kb.waitFor([&] { return kb.clearHalts(kBoot) == 1; }));
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    EXPECT_EQ(kb.failedUrbs(kBoot), 1);  // one stall, cleared, then submitted once more
    EXPECT_EQ(relay.status().keyboard().state, KeyboardState::Connected);
}

TEST_F(Relay, AnEndpointThatHaltsAgainAtOnceIsALostKeyboardTriedAgainLater) {
    kb.sendReport(kBoot, kShiftDown);
    EXPECT_EQ(pty.read(1), Bytes{0x70});
    kb.haltEndpoint(kBitmap, 1000);  // a clear does not help
    EXPECT_EQ(pty.read(1), Bytes{0xF0});
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    EXPECT_EQ(kb.clearHalts(kBitmap), EndpointRecovery::kHaltsBeforeGivingUp - 1);
    kb.failEndpoint(kBitmap, 0);  // the device recovered
    advanceClockTo(clock.get() + KeyRelay::kKeyboardRetryMs);
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(2), (Bytes{kReadyByte, 0x1E}));
}

// A bad cable or a noisy hub: every transfer on the bitmap endpoint fails. It
// is submitted again after 13, 26, 52, then 104 ms, while the other endpoint
// types on, until a second of nothing but failures loses the keyboard.
TEST_F(Relay, AFailingEndpointPausesLongerEachTimeAndASecondOfItIsALostKeyboard) {
    const std::uint32_t began = clock.get();
    const int submitted = kb.submits(kBitmap);
    int failures = 0;
    // Until the worker has reaped the next failure and its callback has read
    // the clock to schedule the next submission.
    const auto takeFailure = [&] {
        ++failures;
        ASSERT_TRUE(kb.waitFor(
            [&] { return kb.failedUrbs(kBitmap) == failures && !kb.inFlight(kBitmap); }));
        advanceClockTo(clock.get());
    };
    kb.failEndpoint(kBitmap, -EPROTO);
    takeFailure();
    kb.sendReport(kBoot, bootWith(A));
    kb.sendReport(kBoot, kBootEmpty);
    EXPECT_EQ(pty.read(2), (Bytes{0x1E, 0x9E}));
    for (std::uint32_t due = began; due - began < EndpointRecovery::kTroubleWindowMs;) {
        due += std::min(EndpointRecovery::kFirstPauseMs << std::min(failures - 1, 3),
                        EndpointRecovery::kLongestPauseMs);
        advanceClockTo(due - 1);
        EXPECT_EQ(kb.submits(kBitmap), submitted + failures - 1) << "before " << due;
        advanceClockTo(due);
        takeFailure();
    }
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    EXPECT_EQ(failures, 13);  // the one in flight, and a dozen more in that second
}

TEST_F(Relay, KeysAndCommandsWakeAWorkerWithNothingScheduled) {
    // No key is held, so the worker sleeps with no time-out at all: only the
    // keyboard's transfer and the host's byte can wake it.
    ASSERT_EQ(KeyRelayTestPeer::repeat(relay).repeatCode, 0);
    pty.write({0xF7});
    ASSERT_TRUE(kb.waitForControlRequests(1));
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
}

TEST_F(Relay, LedCommandSendsTheExactFeatureReportOncePerChange) {
    pty.write({0xF7});  // LED 3 lit
    ASSERT_TRUE(kb.waitForControlRequests(1));
    EXPECT_EQ(kb.controlRequests()[0], setReport(ledReport({{10, 0xFF}})));

    // The second 0xF7 changes nothing; the brightness after it does.
    pty.write({0xF7, 0x57});
    ASSERT_TRUE(kb.waitForControlRequests(2));
    const auto requests = kb.controlRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], setReport(ledReport({{10, 0x20}})));
}

TEST_F(Relay, BrightnessLevelsDimTheLitLeds) {
    pty.write({0x54, 0xDE});  // level 0 is stored already; LEDs 0 and 5 lit
    ASSERT_TRUE(kb.waitForControlRequests(1));
    for (const std::uint8_t level : {0x55, 0x56, 0x57, 0x54}) {
        const std::size_t before = kb.controlRequests().size();
        pty.write({level});
        ASSERT_TRUE(kb.waitForControlRequests(before + 1));
    }
    const auto r = kb.controlRequests();
    ASSERT_EQ(r.size(), 5u);
    EXPECT_EQ(r[0].data, ledReport({{7, 0xFF}, {13, 0xFF}}));
    EXPECT_EQ(r[1].data, ledReport({{7, 0x80}, {13, 0x80}}));
    EXPECT_EQ(r[2].data, ledReport({{7, 0x40}, {13, 0x40}}));
    EXPECT_EQ(r[3].data, ledReport({{7, 0x20}, {13, 0x20}}));
    EXPECT_EQ(r[4].data, ledReport({{7, 0xFF}, {13, 0xFF}}));
}

TEST_F(Relay, FailedLedUpdateDoesNotStopTyping) {
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::Stall);
    pty.write({0xF7});
    ASSERT_TRUE(kb.waitForControlRequests(1));
    ASSERT_TRUE(kb.waitFor([&] { return !kb.inFlight(EmulatedKeyboard::kControlEndpoint); }));
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NeverComplete);
    pty.write({0xF0});  // never answered
    ASSERT_TRUE(kb.waitForControlRequests(2));
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    EXPECT_TRUE((relay.status().keyboard().state == KeyboardState::Connected));
}

// Changes made while a report is out (here one never answered, given up after
// a quarter of a second) wait for it to end; then only the latest state goes.
TEST_F(Relay, LedChangesWhileAReportIsOutFollowItAsOneReportOfTheLatest) {
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NeverComplete);
    pty.write({0xF7});  // LED 3
    ASSERT_TRUE(kb.waitForControlRequests(1));
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::Ack);
    pty.write({0xFB});  // LED 2
    advanceClockTo(clock.get());
    pty.write({0xFD});  // LED 1
    advanceClockTo(clock.get());
    advanceClockTo(clock.get());  // the pass that took 0xFD has ended
    ASSERT_TRUE(kb.inFlight(EmulatedKeyboard::kControlEndpoint));
    EXPECT_EQ(kb.controlRequests().size(), 1u);
    ASSERT_TRUE(kb.waitForControlRequests(2));
    EXPECT_EQ(kb.controlRequests()[1].data, ledReport({{8, 0xFF}}));
    hostSendsAndWait({});  // and nothing else followed
    EXPECT_EQ(kb.controlRequests().size(), 3u);
}

TEST_F(Relay, LedUpdateFindingTheKeyboardGoneIdlesTheRelay) {
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NoDevice);
    pty.write({0xF7});
    ASSERT_TRUE(
        waitFor([&] { return (relay.status().keyboard().state != KeyboardState::Connected); }));
}

// A held key repeats first after the host's delay, then at its interval: the
// clock is moved to just before and to each due time, and the repeats counted.
TEST_F(Relay, RepeatTimesFollowTheHostsCommands) {
    struct Case {
        std::uint8_t delayCommand, intervalCommand;
        std::uint32_t delay, interval;
    };
    const Case cases[] = {{0x60, 0x70, 200, 30}, {0x6F, 0x7F, 1700, 1155}, {0x63, 0x74, 500, 110}};
    std::uint8_t key = A;
    for (const Case& c : cases) {
        hostSendsAndWait({c.delayCommand, c.intervalCommand});
        const std::uint32_t pressedAt = clock.get();
        kb.sendReport(kBoot, bootWith(key));
        const std::uint8_t make = key == A ? 0x1E : 0x2E;
        ASSERT_EQ(pty.read(1), Bytes{make});
        std::uint32_t due = pressedAt + c.delay;
        for (int repeat = 0; repeat < 3; ++repeat) {
            advanceClockTo(due - 1);
            advanceClockTo(due);
            EXPECT_EQ(pty.read(1), Bytes{make}) << "repeat " << repeat;
            due += c.interval;
        }
        // Release as a marker: nothing came beside the three repeats.
        kb.sendReport(kBoot, kBootEmpty);
        EXPECT_EQ(pty.readUntil(static_cast<std::uint8_t>(make | 0x80)), Bytes{})
            << "delay 0x" << std::hex << int(c.delayCommand);
        key = key == A ? B : A;
    }
}

// Sixty-four LED changes in one read (a quarter of a second of a busy host)
// into a keyboard that never answers: all applied in order, one report of the
// last state, and neither the keys, nor the worker's passes, nor a stop wait
// for that report.
TEST_F(Relay, ABurstOfLedChangesIsOneReportThatNothingWaitsFor) {
    kb.setControlOutcome(EmulatedKeyboard::ControlOutcome::NeverComplete);
    Bytes burst = {0x6F, 0x55};  // delay 1700 ms, level 1
    for (int i = 0; i < 64; ++i) {
        burst.push_back(static_cast<std::uint8_t>(0x80 | (i % 2 == 0 ? 0x7E : 0x7D)));
    }
    burst.push_back(0x60);  // delay 200 ms: the last word
    pty.write(burst);
    ASSERT_TRUE(kb.waitForControlRequests(1));
    EXPECT_EQ(kb.controlRequests()[0], setReport(ledReport({{8, 0x80}})));  // LED 1, level 1
    const std::uint32_t pressedAt = clock.get();
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    advanceClockTo(pressedAt + 200);  // a pass, and the host's last delay
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    relay.stop();
    // The report is still out: nothing waited for it, not even for its time-out.
    EXPECT_TRUE(kb.inFlight(EmulatedKeyboard::kControlEndpoint));
    EXPECT_EQ(kb.controlRequests().size(), 1u);
}

// A real X68000 on the line: its power-on bytes, then 0x41 and 0x40 in turn
// every 10 ms (ROM 1.0's mouse task), while keys are typed, one change per
// host byte, and the LEDs change now and then. The keyboard gets the LED
// changes and nothing else; the host gets exactly the keys (no echo, no ready
// byte again).
TEST_F(Relay, AHostTalkingAHundredTimesASecondChangesNothingButTheLeds) {
    std::atomic<bool> talking{true};
    std::atomic<int> said{0};
    std::thread host([&] {
        pty.write({0xFF, 0xFF, 0x41, 0x49, 0x59, 0x51, 0x5C, 0x63, 0x72});
        for (std::uint8_t b = 0x41; talking; b ^= 1, ++said) {
            pty.write({b});
            // The host's own pace is what is under test here, not a wait.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    std::vector<EmulatedKeyboard::ControlRequest> ledReports;
    for (int change = 0; change < 60; ++change) {
        ASSERT_TRUE(waitFor([&, heard = said.load()] { return said.load() > heard; }));
        if (change % 10 == 9) {  // LED 3 on, then off again
            const bool on = change % 20 == 9;
            pty.write({on ? std::uint8_t{0xF7} : std::uint8_t{0xFF}});
            ledReports.push_back(setReport(on ? ledReport({{10, 0xFF}}) : ledReport({})));
            ASSERT_TRUE(kb.waitForControlRequests(ledReports.size()));
        }
        kb.sendReport(kBoot, change % 2 == 0 ? bootWith(A) : kBootEmpty);
        ASSERT_EQ(pty.read(1), Bytes{change % 2 == 0 ? std::uint8_t{0x1E} : std::uint8_t{0x9E}})
            << "change " << change;
    }
    talking = false;
    host.join();
    relay.stop();
    EXPECT_EQ(pty.restOfLine(), Bytes{});
    EXPECT_EQ(kb.controlRequests(), ledReports);
    EXPECT_FALSE(relay.status().mouse);  // none asked for: none there
}

// Another port chosen: the line left hears nothing more, the new one hears
// that the keyboard is there before any key.
TEST_F(Relay, AnotherPortHearsTheReadyByteAndTheOneLeftNothingMore) {
    PtyPair other{true};
    relay.start(other.portPath());
    EXPECT_EQ(pty.restOfLine(), Bytes{});
    // The ready byte before anything typed on the new line (a report that
    // completed before the worker took it would not be typed there).
    EXPECT_EQ(other.read(1), Bytes{kReadyByte});
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(other.read(1), Bytes{0x1E});
}

TEST_F(Relay, UnusedCommandBytesAreIgnored) {
    hostSendsAndWait({0x53, 0x58, 0x5F, 0x00, 0x3F});
    EXPECT_EQ(kb.controlRequests().size(), 1u);  // only the marker
    // The repeat still runs on the defaults: due at 500 and 610.
    const std::uint32_t pressedAt = clock.get();
    kb.sendReport(kBoot, bootWith(A));
    ASSERT_EQ(pty.read(1), Bytes{0x1E});
    advanceClockTo(pressedAt + 499);
    advanceClockTo(pressedAt + 500);
    advanceClockTo(pressedAt + 609);
    advanceClockTo(pressedAt + 610);
    kb.sendReport(kBoot, kBootEmpty);
    EXPECT_EQ(pty.readUntil(0x9E), (Bytes{0x1E, 0x1E}));
}

// Another program holds interface 1 of a keyboard that is plugged in.
class RelayWithAKeyboardHeldElsewhere : public Relay {
protected:
    RelayWithAKeyboardHeldElsewhere() : Relay(true, {.failClaimInterface = 1}) {}
    void SetUp() override {
        ASSERT_FALSE(relay.openKeyboard());
        startRelay(false);
    }
};

TEST_F(RelayWithAKeyboardHeldElsewhere, IsTriedAfterGrowingPausesWithoutTakingTheKernelsDriver) {
    ASSERT_TRUE(kb.waitFor([&] { return kb.opens() == 2; }));  // at start, and the worker's look
    EXPECT_EQ(relay.status().keyboard().state, KeyboardState::Refused);
    EXPECT_EQ(relay.status().keyboard().failure, KeyboardConnection::Failure::Busy);
    std::uint32_t due = clock.get();
    int tries = kb.opens();
    for (const std::uint32_t pause : {900u, 1800u, 3600u, 7200u, 10000u, 10000u}) {
        due += pause;
        advanceClockTo(due - 1);
        EXPECT_EQ(kb.opens(), tries) << "before " << due;
        advanceClockTo(due);
        ++tries;
        ASSERT_TRUE(kb.waitFor([&] { return kb.opens() == tries; })) << "at " << due;
    }
    // Interface 1 was asked first each time: the console kept interface 0.
    EXPECT_EQ(kb.claims(0), 0);
    EXPECT_EQ(kb.detaches(0), 0);
}

TEST_F(RelayWithAKeyboardHeldElsewhere, IsAbsentAsSoonAsItIsUnplugged) {
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Refused; }));
    kb.unplug();  // the clock stands: only the news of the unplug can tell
    EXPECT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
}

// Where libusb cannot tell of a keyboard plugged in, the relay looks once a second.
class RelayPollingForTheKeyboard : public Relay {
protected:
    RelayPollingForTheKeyboard() : Relay(false) {}
};

TEST_F(RelayPollingForTheKeyboard, AReturningKeyboardIsFoundWithinASecond) {
    kb.unplug();
    ASSERT_TRUE(waitFor([&] { return relay.status().keyboard().state == KeyboardState::Absent; }));
    kb.plugIn();
    advanceClockTo(clock.get() + KeyRelay::kKeyboardRetryMs);
    ASSERT_TRUE(
        waitFor([&] { return relay.status().keyboard().state == KeyboardState::Connected; }));
    kb.sendReport(kBoot, bootWith(A));
    EXPECT_EQ(pty.read(2), (Bytes{kReadyByte, 0x1E}));
}

}  // namespace
