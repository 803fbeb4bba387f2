#include "cli/service_notifier.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/manual_clock.h"
#include "support/scripted_relay.h"

namespace {

using namespace std::chrono_literals;
using Messages = std::vector<std::string>;
constexpr auto kUp = KeyboardState::Connected;
constexpr auto kAway = KeyboardState::Absent;
constexpr auto kRefused = KeyboardState::Refused;

RelayStatus of(KeyboardState keyboard, PortState port) {
    RelayStatus s;
    s.keyboard().state = keyboard;
    s.port = port;
    return s;
}

RelayStatus refusedFor(KeyboardConnection::Failure failure, PortState port = PortState::Open) {
    RelayStatus s = of(kRefused, port);
    s.keyboard().failure = failure;
    s.keyboard().failureText = "LIBUSB_ERROR_IO";
    return s;
}

TEST(StatusSentence, NamesThePortAndWhatKeepsTheKeyboardFromIt) {
    RelayStatus failed = of(kUp, PortState::Failed);
    failed.portError = {EACCES, "Permission denied"};
    const std::pair<RelayStatus, std::string> cases[] = {
        {of(kUp, PortState::Open), "Relaying to ttyUSB0"},
        {of(kAway, PortState::Open), "ttyUSB0: keyboard disconnected, waiting for it"},
        {refusedFor(KeyboardConnection::Failure::NoPermission),
         "ttyUSB0: keyboard refused (no permission), waiting for it"},
        {refusedFor(KeyboardConnection::Failure::Busy),
         "ttyUSB0: keyboard refused (another program holds it), waiting for it"},
        {refusedFor(KeyboardConnection::Failure::Other, PortState::Reopening),
         "Lost ttyUSB0, waiting for it; keyboard refused (LIBUSB_ERROR_IO), "
         "waiting for it"},
        {of(kUp, PortState::Reopening), "Lost ttyUSB0, waiting for it"},
        {of(kUp, PortState::OtherDevice),
         "ttyUSB0 is another device now, waiting for the one it was"},
        {of(kAway, PortState::OtherDevice),
         "ttyUSB0 is another device now, waiting for the one it was; keyboard disconnected, "
         "waiting for it"},
        {of(kUp, PortState::Opening), "Opening ttyUSB0"},
        {of(kAway, PortState::Idle), "Opening ttyUSB0; keyboard disconnected, waiting for it"},
        {failed, "Cannot open ttyUSB0: Permission denied"},
    };
    for (const auto& [status, sentence] : cases) {
        EXPECT_EQ(statusSentence(status, "ttyUSB0"), sentence);
        // Without a mouse the same whatever its port would be.
        EXPECT_EQ(statusSentence(status, "ttyUSB0", "ttyUSB1"), sentence);
    }
}

TEST(StatusSentence, WithAMouseSaysBothLines) {
    const auto with = [](RelayStatus s, KeyboardState mouse, PortState port) {
        s.mouse = MouseStatus{};
        s.mouse->device = mouse;
        s.mouse->port = port;
        return s;
    };
    RelayStatus busy = with(of(kUp, PortState::Open), kRefused, PortState::Open);
    busy.mouse->failure = KeyboardConnection::Failure::Busy;
    const std::pair<RelayStatus, std::string> cases[] = {
        {with(of(kUp, PortState::Open), kUp, PortState::Open),
         "Relaying to ttyUSB0, the mouse to ttyUSB1"},
        {with(of(kAway, PortState::Open), kUp, PortState::Open),
         "ttyUSB0: keyboard disconnected, waiting for it; relaying the mouse to ttyUSB1"},
        {with(of(kUp, PortState::Open), kAway, PortState::Open),
         "Relaying to ttyUSB0; ttyUSB1: mouse disconnected, waiting for it"},
        {busy,
         "Relaying to ttyUSB0; ttyUSB1: mouse refused (another program holds it), waiting "
         "for it"},
        {with(of(kUp, PortState::Open), kAway, PortState::Reopening),
         "Relaying to ttyUSB0; lost ttyUSB1, waiting for it; mouse disconnected, waiting for it"},
        {with(of(kUp, PortState::Reopening), kUp, PortState::OtherDevice),
         "Lost ttyUSB0, waiting for it; ttyUSB1 is another device now, waiting for the one it "
         "was"},
        {with(of(kUp, PortState::Opening), kUp, PortState::Opening),
         "Opening ttyUSB0; opening ttyUSB1"},
    };
    for (const auto& [status, sentence] : cases) {
        EXPECT_EQ(statusSentence(status, "ttyUSB0", "ttyUSB1"), sentence);
    }
}

TEST(StatusSentence, SharedKeyboardsSayWhereTheyGoAndSeveralAreNamed) {
    RelayStatus shared = of(kUp, PortState::Open);
    shared.share = ShareSwitch::Side::X68000;
    EXPECT_EQ(statusSentence(shared, "ttyUSB0"), "Relaying to ttyUSB0; keyboard and mouse: X68000");
    shared.share = ShareSwitch::Side::Computer;
    shared.keyboards.push_back({kAway, KeyboardConnection::Failure::None, ""});
    EXPECT_EQ(statusSentence(shared, "ttyUSB0", "", {"event3", "event4"}),
              "ttyUSB0: keyboard event4 disconnected, waiting for it; keyboard and mouse: this "
              "computer");
}

TEST(ServiceNotifier, PingsEveryHalfPeriodOnlyWhenTheWorkerMovedSinceTheLastLook) {
    ScriptedRelay relay;
    relay.script = {of(kUp, PortState::Open)};
    ManualClock clock;
    Messages told;
    ServiceNotifier service(
        relay, "ttyUSB0", [&](const std::string& m) { told.push_back(m); }, 200ms, clock.source());
    // A status change 30 ms in: the next wait sleeps only the 70 ms left.
    std::vector<int> timeouts;
    const int changed = service.wait([&](int timeoutMs) {
        timeouts.push_back(timeoutMs);
        clock.set(clock.get() + 30);
        return 0;
    });
    EXPECT_EQ(changed, 0);
    // Then at each look the worker's count: moved, moved, stuck, stuck, moved.
    const std::vector<std::uint64_t> passesAtLooks = {1, 2, 2, 2, 3};
    std::size_t look = 0;
    const int stopped = service.wait([&](int timeoutMs) {
        timeouts.push_back(timeoutMs);
        if (look == passesAtLooks.size()) {
            return SIGINT;
        }
        relay.passes = passesAtLooks[look++];
        clock.set(clock.get() + static_cast<std::uint32_t>(timeoutMs));
        return -1;
    });
    EXPECT_EQ(stopped, SIGINT);
    EXPECT_EQ(timeouts, (std::vector<int>{100, 70, 100, 100, 100, 100, 100}));
    EXPECT_EQ(std::count(told.begin(), told.end(), "WATCHDOG=1"), 3);
    EXPECT_EQ(relay.wakes, 5);  // after every look, so an idle worker makes a pass
}

}  // namespace
