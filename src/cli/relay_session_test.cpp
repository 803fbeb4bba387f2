#include "cli/relay_session.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "cli/exit_codes.h"

namespace {

// A relay that plays back statuses, one per status() call (the last one
// repeating), and records what the run asked of it.
class ScriptedRelay : public RelayControl {
public:
    bool keyboardOpens = true;
    std::vector<RelayStatus> script;
    std::vector<std::string> calls;

    bool openKeyboard() override {
        calls.push_back("openKeyboard");
        return keyboardOpens;
    }
    void closeKeyboard() override { calls.push_back("closeKeyboard"); }
    void start(const std::string& port) override { calls.push_back("start " + port); }
    void stop() override { calls.push_back("stop"); }
    RelayStatus status() const override { return script.at(std::min(next++, script.size() - 1)); }

private:
    mutable std::size_t next = 0;
};

const RelayStatus kOpening{PortState::Opening, {}, true};
const RelayStatus kOpen{PortState::Open, {}, true};
const RelayStatus kKeyboardGone{PortState::Open, {}, false};
const RelayStatus kPortGone{PortState::Lost, {}, true};
const std::vector<std::string> kFullRun = {"openKeyboard", "start ttyUSB0", "stop",
                                           "closeKeyboard"};

// Runs the session with a stop signal arriving on the n-th wait (never when 0);
// returns the exit status and fills lines with what it said.
int run(ScriptedRelay& relay, std::vector<std::string>& lines, int signalOnWait = 0,
        const std::string& port = "ttyUSB0") {
    std::ostringstream err;
    int waits = 0;
    const int code = runRelaySession(relay, port, err, [&](std::chrono::milliseconds) {
        return ++waits == signalOnWait ? SIGHUP : 0;
    });
    std::istringstream in(err.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return code;
}

TEST(RelaySession, NoKeyboardFailsBeforeThePortIsTouched) {
    ScriptedRelay relay;
    relay.keyboardOpens = false;
    std::vector<std::string> lines;
    EXPECT_EQ(run(relay, lines), kExitFailure);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Failed to initialize the X68000 Z keyboard.");
    EXPECT_NE(lines[1].find("udev rule"), std::string::npos) << lines[1];
    EXPECT_EQ(relay.calls, std::vector<std::string>{"openKeyboard"});
}

TEST(RelaySession, APortThatWillNotOpenGivesTheSystemsReasonAndAHint) {
    const std::tuple<int, const char*, const char*> cases[] = {
        {EACCES, "Permission denied", " (is the user in group dialout?)"},
        {ENOENT, "No such file or directory", " (pellora --list shows the ports present)"},
        {EBUSY, "Device or resource busy", " (is another program using it?)"},
        {EIO, "Input/output error", ""},
    };
    for (const auto& [code, message, hint] : cases) {
        ScriptedRelay relay;
        relay.script = {kOpening, {PortState::OpenFailed, {code, message}, true}};
        std::vector<std::string> lines;
        EXPECT_EQ(run(relay, lines), kExitFailure);
        EXPECT_EQ(lines, std::vector<std::string>{std::string("cannot open /dev/ttyUSB0: ") +
                                                  message + hint});
        EXPECT_EQ(relay.calls, kFullRun);
    }
    // An absolute path is used as it stands.
    ScriptedRelay relay;
    relay.script = {{PortState::OpenFailed, {ENOENT, "No such file or directory"}, true}};
    std::vector<std::string> lines;
    run(relay, lines, 0, "/tmp/pty-link");
    EXPECT_EQ(relay.calls.at(1), "start /tmp/pty-link");
    EXPECT_EQ(lines.at(0).rfind("cannot open /tmp/pty-link: ", 0), 0u) << lines.at(0);
}

TEST(RelaySession, EachEndingOfARunningRelay) {
    const std::string relaying = "Relaying the X68000 Z keyboard to /dev/ttyUSB0.";
    struct Case {
        std::vector<RelayStatus> script;
        int signalOnWait;
        int exitCode;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{kOpening, kOpen}, 3, kExitOk, {relaying, "Stopped by SIGHUP."}},
        {{kOpening}, 2, kExitOk, {"Stopped by SIGHUP."}},  // still opening
        {{kOpen, kOpen, kKeyboardGone},
         0,
         kExitKeyboardLost,
         {relaying, "The X68000 Z keyboard was disconnected."}},
        {{kOpening, kOpen, kPortGone},
         0,
         kExitPortLost,
         {relaying, "The serial device /dev/ttyUSB0 went away."}},
        // Lost before the first look: reported, although a signal waits too.
        {{kPortGone}, 1, kExitPortLost, {relaying, "The serial device /dev/ttyUSB0 went away."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.back());
        ScriptedRelay relay;
        relay.script = c.script;
        std::vector<std::string> lines;
        EXPECT_EQ(run(relay, lines, c.signalOnWait), c.exitCode);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(relay.calls, kFullRun);  // stop before closeKeyboard, every time
    }
}

}  // namespace
