#include "cli/relay_session.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "support/scripted_relay.h"

namespace {

using Lines = std::vector<std::string>;

RelayStatus with(KeyboardState keyboard, PortState port) {
    RelayStatus s;
    s.keyboard = keyboard;
    s.port = port;
    return s;
}

constexpr auto kUp = KeyboardState::Connected;
constexpr auto kAway = KeyboardState::Absent;
const Lines kFullRun = {"checkPort ttyUSB0", "openKeyboard", "start ttyUSB0", "stop",
                        "closeKeyboard"};
const std::string kRelaying = "Relaying the X68000 Z keyboard to /dev/ttyUSB0.";

// Runs the session with a stop signal on the n-th wait (never when 0); returns
// the exit status and fills lines with what it said.
int run(ScriptedRelay& relay, Lines& lines, int signalOnWait = 0,
        const std::string& port = "ttyUSB0") {
    std::ostringstream err;
    int waits = 0;
    const int code =
        runRelaySession(relay, port, err, [&] { return ++waits == signalOnWait ? SIGHUP : 0; });
    std::istringstream in(err.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return code;
}

TEST(RelaySession, AKeyboardPresentButRefusedEndsTheRunWithTheReason) {
    const std::pair<UsbKeyboard::Failure, std::string> cases[] = {
        {UsbKeyboard::Failure::NoPermission, "udev rule 70-pellora.rules"},
        {UsbKeyboard::Failure::Busy, "Another program holds it, perhaps another pellora."},
        {UsbKeyboard::Failure::Other, "LIBUSB_ERROR_IO"},
    };
    for (const auto& [failure, reason] : cases) {
        ScriptedRelay relay;
        relay.keyboardOpens = false;
        RelayStatus refused = with(KeyboardState::Refused, PortState::Idle);
        refused.keyboardFailure = failure;
        refused.keyboardFailureText = "LIBUSB_ERROR_IO";
        relay.script = {refused};
        Lines lines;
        EXPECT_EQ(run(relay, lines), kExitFailure);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], "Failed to initialize the X68000 Z keyboard.");
        EXPECT_NE(lines[1].find(reason), std::string::npos) << lines[1];
        EXPECT_EQ(relay.calls,
                  (Lines{"checkPort ttyUSB0", "openKeyboard", "stop", "closeKeyboard"}));
    }
}

TEST(RelaySession, APortThatWillNotOpenGivesTheReasonAndAHint) {
    const std::tuple<int, const char*, const char*> cases[] = {
        {EACCES, "Permission denied",
         " (is this user in the group that owns it: dialout, "
         "or uucp on Arch?)"},
        {ENOENT, "No such file or directory", " (pellora --list shows the ports present)"},
        {EBUSY, "in use by another program", " (perhaps another pellora)"},
        {ENOTTY, "not a terminal", ""},
    };
    for (const auto& [code, message, hint] : cases) {
        // Found before the keyboard is taken: it is never opened.
        ScriptedRelay relay;
        relay.portCheck = {code, message};
        Lines lines;
        EXPECT_EQ(run(relay, lines), kExitFailure);
        EXPECT_EQ(lines, Lines{std::string("cannot open /dev/ttyUSB0: ") + message + hint});
        EXPECT_EQ(relay.calls, Lines{"checkPort ttyUSB0"});
    }
    // A name that is no port name is named as given.
    ScriptedRelay relay;
    relay.portCheck = {EINVAL, "not a port name"};
    Lines lines;
    run(relay, lines, 0, "../ttyS0");
    EXPECT_EQ(lines, Lines{"cannot open ../ttyS0: not a port name"});

    // A port taken by another program between the check and the worker's
    // open: the same words, and everything given back.
    ScriptedRelay raced;
    RelayStatus failed = with(kUp, PortState::Failed);
    failed.portError = {EBUSY, "in use by another program"};
    raced.script = {with(kUp, PortState::Opening), failed};
    Lines told;
    EXPECT_EQ(run(raced, told), kExitFailure);
    EXPECT_EQ(
        told,
        Lines{"cannot open /dev/ttyUSB0: in use by another program (perhaps another pellora)"});
    EXPECT_EQ(raced.calls, kFullRun);
}

TEST(RelaySession, TellsEachComingAndGoingAndEndsOnlyOnASignal) {
    ScriptedRelay relay;
    relay.script = {with(kUp, PortState::Opening),     with(kUp, PortState::Open),
                    with(kAway, PortState::Open),      with(kAway, PortState::Reopening),
                    with(kAway, PortState::Reopening), with(kUp, PortState::Reopening),
                    with(kUp, PortState::Open)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 7), kExitOk);
    EXPECT_EQ(lines, (Lines{kRelaying, "Keyboard disconnected; waiting for it.",
                            "Lost ttyUSB0; waiting for it.", "Keyboard connected.",
                            "ttyUSB0 is back.", "Stopped by SIGHUP."}));
    EXPECT_EQ(relay.calls, kFullRun);  // stop before closeKeyboard
}

TEST(RelaySession, ARefusalAndAnotherDeviceOnThePortAreToldOncePerChangeAndWaitedFor) {
    RelayStatus busy = with(KeyboardState::Refused, PortState::Open);
    busy.keyboardFailure = UsbKeyboard::Failure::Busy;
    RelayStatus denied = busy;
    denied.keyboardFailure = UsbKeyboard::Failure::NoPermission;
    RelayStatus other = busy;
    other.port = PortState::OtherDevice;
    ScriptedRelay relay;
    relay.script = {with(kUp, PortState::Open),
                    with(kAway, PortState::Open),
                    busy,
                    busy,
                    denied,
                    with(kUp, PortState::Open),
                    with(kUp, PortState::Reopening),
                    other,
                    other,
                    with(kUp, PortState::Reopening),
                    with(kUp, PortState::Open)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 11), kExitOk);
    EXPECT_EQ(lines, (Lines{kRelaying, "Keyboard disconnected; waiting for it.",
                            "Keyboard refused: another program holds it; waiting for it.",
                            "Keyboard refused: no permission; waiting for it.",
                            "Keyboard connected.", "Lost ttyUSB0; waiting for it.",
                            "Keyboard refused: another program holds it; waiting for it.",
                            "ttyUSB0 is another device now; waiting for the one it was.",
                            "Keyboard connected.", "ttyUSB0 is back.", "Stopped by SIGHUP."}));
}

TEST(RelaySession, AnAbsentKeyboardIsWaitedForAndARefusalBeforeItsFirstUseEnds) {
    ScriptedRelay relay;
    relay.keyboardOpens = false;
    relay.script = {with(kAway, PortState::Idle), with(kAway, PortState::Open),
                    with(kAway, PortState::Open), with(kUp, PortState::Open)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 3), kExitOk);
    EXPECT_EQ(lines, (Lines{"Waiting for the X68000 Z keyboard (USB 33DD:0011)...", kRelaying,
                            "Keyboard connected.", "Stopped by SIGHUP."}));

    // Plugged in at last, but another program (another pellora) was quicker.
    ScriptedRelay second;
    second.keyboardOpens = false;
    RelayStatus taken = with(KeyboardState::Refused, PortState::Open);
    taken.keyboardFailure = UsbKeyboard::Failure::Busy;
    second.script = {with(kAway, PortState::Idle), with(kAway, PortState::Open), taken};
    Lines secondLines;
    EXPECT_EQ(run(second, secondLines), kExitFailure);
    EXPECT_EQ(secondLines.back(), "Another program holds it, perhaps another pellora.");
    EXPECT_EQ(second.calls.back(), "closeKeyboard");
}

TEST(RelaySession, ASignalWhileThePortOpensStopsCleanly) {
    ScriptedRelay relay;
    relay.script = {with(kUp, PortState::Opening)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 2), kExitOk);
    EXPECT_EQ(lines, Lines{"Stopped by SIGHUP."});
    EXPECT_EQ(relay.calls, kFullRun);
}

}  // namespace
