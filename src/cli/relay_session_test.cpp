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
    s.keyboard().state = keyboard;
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
// inputDevices: the input devices relayed; none, the X68000 Z keyboard.
// mouse: the mouse relayed beside it, if any.
// switchKey: the keyboards are shared with the computer by it.
int run(ScriptedRelay& relay, Lines& lines, int signalOnWait = 0,
        const std::string& port = "ttyUSB0", const std::vector<std::string>& inputDevices = {},
        const SessionMouse& mouse = {}, const std::string& switchKey = "") {
    std::ostringstream err;
    int waits = 0;
    const int code = runRelaySession(
        relay, port, err, [&] { return ++waits == signalOnWait ? SIGHUP : 0; },
        SessionDevices{inputDevices, mouse, switchKey});
    std::istringstream in(err.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return code;
}

TEST(RelaySession, AKeyboardPresentButRefusedEndsTheRunWithTheReason) {
    const std::pair<KeyboardConnection::Failure, std::string> cases[] = {
        {KeyboardConnection::Failure::NoPermission, "udev rule 70-pellora.rules"},
        {KeyboardConnection::Failure::Busy, "Another program holds it, perhaps another pellora."},
        {KeyboardConnection::Failure::Other, "LIBUSB_ERROR_IO"},
    };
    for (const auto& [failure, reason] : cases) {
        ScriptedRelay relay;
        relay.keyboardOpens = false;
        RelayStatus refused = with(KeyboardState::Refused, PortState::Idle);
        refused.keyboard().failure = failure;
        refused.keyboard().failureText = "LIBUSB_ERROR_IO";
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
    busy.keyboard().failure = KeyboardConnection::Failure::Busy;
    RelayStatus denied = busy;
    denied.keyboard().failure = KeyboardConnection::Failure::NoPermission;
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
    taken.keyboard().failure = KeyboardConnection::Failure::Busy;
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

// An input device: named by its path; one that another program holds is
// waited for, at start too (the port's lock keeps a second pellora out); one
// that cannot be read, or is no keyboard, ends a run that never had it.
TEST(RelaySession, AnInputDeviceHeldElsewhereIsWaitedForAndOneNotUsableEndsTheRun) {
    const std::string device = "/dev/input/by-id/usb-Logitech_USB_Keyboard-event-kbd";
    const auto refused = [](KeyboardConnection::Failure why, PortState port,
                            const std::string& text = "") {
        RelayStatus s = with(KeyboardState::Refused, port);
        s.keyboard().failure = why;
        s.keyboard().failureText = text;
        return s;
    };
    constexpr auto kBusy = KeyboardConnection::Failure::Busy;
    ScriptedRelay held;
    held.keyboardOpens = false;
    held.script = {refused(kBusy, PortState::Idle), refused(kBusy, PortState::Open),
                   refused(kBusy, PortState::Open), with(kUp, PortState::Open)};
    Lines lines;
    EXPECT_EQ(run(held, lines, 3, "ttyUSB0", {device}), kExitOk);
    EXPECT_EQ(lines, (Lines{"Keyboard refused: another program holds it; waiting for it.",
                            "Relaying the keyboard " + device + " to /dev/ttyUSB0.",
                            "Keyboard connected.", "Stopped by SIGHUP."}));

    ScriptedRelay denied;
    denied.keyboardOpens = false;
    denied.script = {refused(KeyboardConnection::Failure::NoPermission, PortState::Idle)};
    lines.clear();
    EXPECT_EQ(run(denied, lines, 0, "ttyUSB0", {device}), kExitFailure);
    EXPECT_EQ(lines, (Lines{"Failed to open the keyboard " + device + ".",
                            "This user may not read it: add the user to group input (sudo "
                            "usermod -aG input $USER, then log in again), or run pellora as "
                            "root."}));

    // Absent at start, then found to be no keyboard (a mouse took its link).
    ScriptedRelay mouse;
    mouse.keyboardOpens = false;
    mouse.script = {with(kAway, PortState::Idle), with(kAway, PortState::Open),
                    refused(KeyboardConnection::Failure::Other, PortState::Open,
                            "not a keyboard: it has no key the X68000 has")};
    lines.clear();
    EXPECT_EQ(run(mouse, lines, 0, "ttyUSB0", {"/dev/input/event3"}), kExitFailure);
    EXPECT_EQ(lines, (Lines{"Waiting for the keyboard /dev/input/event3...",
                            "Relaying the keyboard /dev/input/event3 to /dev/ttyUSB0.",
                            "Failed to open the keyboard /dev/input/event3.",
                            "Not a keyboard: it has no key the X68000 has."}));
    EXPECT_EQ(mouse.calls.back(), "closeKeyboard");
}

// Several keyboards: each line names its device, and each comes, goes and is
// waited for on its own.
TEST(RelaySession, SeveralKeyboardsAreEachToldOfByName) {
    const auto keyboards = [](KeyboardState a, KeyboardState b) {
        RelayStatus s = with(a, PortState::Open);
        s.keyboards.push_back({b, KeyboardConnection::Failure::None, ""});
        return s;
    };
    ScriptedRelay relay;
    relay.keyboardOpens = false;
    RelayStatus atStart = keyboards(kUp, kAway);
    atStart.port = PortState::Idle;
    relay.script = {atStart, keyboards(kUp, kAway), keyboards(kUp, kUp), keyboards(kAway, kUp)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 4, "ttyUSB0", {"/dev/input/event3", "aa:bb:cc:dd:ee:01"}), kExitOk);
    EXPECT_EQ(lines, (Lines{"Waiting for the keyboard aa:bb:cc:dd:ee:01...",
                            "Relaying the keyboards /dev/input/event3 and aa:bb:cc:dd:ee:01 to "
                            "/dev/ttyUSB0.",
                            "Keyboard aa:bb:cc:dd:ee:01 connected.",
                            "Keyboard /dev/input/event3 disconnected; waiting for it.",
                            "Stopped by SIGHUP."}));
}

// Keyboards shared with the computer: where they go is said at the start and
// at each move; the X68000 Z keyboard beside them is said when it comes, and
// its refusal ends nothing.
TEST(RelaySession, SharedKeyboardsSayWhereTheyGoBesideTheX68000ZKeyboard) {
    const auto shared = [](ShareSwitch::Side side, KeyboardState z,
                           KeyboardConnection::Failure why = KeyboardConnection::Failure::None) {
        RelayStatus s = with(kUp, PortState::Open);
        s.keyboards.push_back({z, why, ""});
        s.share = side;
        return s;
    };
    constexpr auto kComputer = ShareSwitch::Side::Computer;
    constexpr auto kX68000 = ShareSwitch::Side::X68000;
    ScriptedRelay relay;
    relay.keyboardOpens = false;
    RelayStatus atStart =
        shared(kComputer, KeyboardState::Refused, KeyboardConnection::Failure::NoPermission);
    atStart.port = PortState::Idle;
    relay.script = {atStart, shared(kComputer, kAway), shared(kX68000, kUp),
                    shared(kComputer, kUp)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 4, "ttyUSB0", {"/dev/input/event3"}, {}, "Scroll Lock"), kExitOk);
    EXPECT_EQ(lines, (Lines{"X68000 Z keyboard refused: no permission; waiting for it.",
                            "Relaying the keyboard /dev/input/event3 to /dev/ttyUSB0.",
                            "Keyboard and mouse: this computer.", "X68000 Z keyboard connected.",
                            "Keyboard and mouse: X68000 (Scroll Lock twice to return).",
                            "Keyboard and mouse: this computer.", "Stopped by SIGHUP."}));
}

// A mouse beside the keyboard: its port is checked too before anything is
// taken, and it and its port are told of as the keyboard and its port are.
const SessionMouse kMouse{"/dev/input/event6", "ttyUSB1"};

RelayStatus withMouse(KeyboardState mouse, PortState mousePort,
                      KeyboardConnection::Failure why = KeyboardConnection::Failure::None) {
    RelayStatus s = with(kUp, PortState::Open);
    s.mouse = MouseStatus{};
    s.mouse->device = mouse;
    s.mouse->failure = why;
    s.mouse->port = mousePort;
    return s;
}

TEST(RelaySession, AMouseAndItsPortComeAndGoLikeTheKeyboardAndItsPort) {
    constexpr auto kBusy = KeyboardConnection::Failure::Busy;
    ScriptedRelay relay;
    relay.script = {withMouse(kAway, PortState::Idle),
                    withMouse(kAway, PortState::Open),
                    withMouse(kUp, PortState::Open),
                    withMouse(kAway, PortState::Open),
                    withMouse(kAway, PortState::Reopening),
                    withMouse(kUp, PortState::Reopening),
                    withMouse(kUp, PortState::Open),
                    withMouse(KeyboardState::Refused, PortState::Open, kBusy),
                    withMouse(kUp, PortState::OtherDevice)};
    Lines lines;
    EXPECT_EQ(run(relay, lines, 9, "ttyUSB0", {}, kMouse), kExitOk);
    EXPECT_EQ(lines,
              (Lines{"Waiting for the mouse /dev/input/event6...", kRelaying,
                     "Relaying the mouse /dev/input/event6 to /dev/ttyUSB1.", "Mouse connected.",
                     "Mouse disconnected; waiting for it.", "Lost ttyUSB1; waiting for it.",
                     "Mouse connected.", "ttyUSB1 is back.",
                     "Mouse refused: another program holds it; waiting for it.", "Mouse connected.",
                     "ttyUSB1 is another device now; waiting for the one it was.",
                     "Stopped by SIGHUP."}));
    EXPECT_EQ(relay.calls, (Lines{"checkPort ttyUSB0", "checkPort ttyUSB1 (mouse)", "openKeyboard",
                                  "start ttyUSB0", "stop", "closeKeyboard"}));

    // Held by another program at start: waited for.
    ScriptedRelay held;
    held.script = {withMouse(KeyboardState::Refused, PortState::Idle, kBusy),
                   withMouse(kUp, PortState::Open)};
    lines.clear();
    EXPECT_EQ(run(held, lines, 1, "ttyUSB0", {}, kMouse), kExitOk);
    EXPECT_EQ(lines.front(), "Mouse refused: another program holds it; waiting for it.");
}

TEST(RelaySession, AMouseOrItsPortThatCannotBeHadAtStartEndsTheRun) {
    ScriptedRelay unchecked;
    unchecked.mousePortCheck = {ENOENT, "No such file or directory"};
    Lines lines;
    EXPECT_EQ(run(unchecked, lines, 0, "ttyUSB0", {}, kMouse), kExitFailure);
    EXPECT_EQ(lines, Lines{"cannot open /dev/ttyUSB1: No such file or directory (pellora --list "
                           "shows the ports present)"});
    EXPECT_EQ(unchecked.calls, (Lines{"checkPort ttyUSB0", "checkPort ttyUSB1 (mouse)"}));

    ScriptedRelay denied;
    denied.script = {withMouse(KeyboardState::Refused, PortState::Idle,
                               KeyboardConnection::Failure::NoPermission)};
    lines.clear();
    EXPECT_EQ(run(denied, lines, 0, "ttyUSB0", {}, kMouse), kExitFailure);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Failed to open the mouse /dev/input/event6.");
    EXPECT_NE(lines[1].find("group input"), std::string::npos) << lines[1];
    EXPECT_EQ(denied.calls.back(), "closeKeyboard");

    // Taken by another program between the check and the worker's open.
    RelayStatus failed = withMouse(kUp, PortState::Failed);
    failed.mouse->portError = {EBUSY, "in use by another program"};
    ScriptedRelay raced;
    raced.script = {withMouse(kUp, PortState::Opening), failed};
    lines.clear();
    EXPECT_EQ(run(raced, lines, 0, "ttyUSB0", {}, kMouse), kExitFailure);
    EXPECT_EQ(lines, Lines{"cannot open /dev/ttyUSB1: in use by another program (perhaps another "
                           "pellora)"});
    EXPECT_EQ(raced.calls.back(), "closeKeyboard");
}

}  // namespace
