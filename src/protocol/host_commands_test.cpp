#include "protocol/host_commands.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct Host {
    RepeatState repeat{0, 0, 500, 110};
    LedState leds;
    MsctrlState msctrl;
    bool send(std::uint8_t b) { return applyHostCommand(b, repeat, leds, msctrl); }
};

TEST(HostCommands, LedStateSendsAReportOnlyOnChange) {
    Host h;
    EXPECT_FALSE(h.send(0xFF));  // all LEDs off, as they already are
    EXPECT_TRUE(h.send(0xF7));   // bit 3 clear: LED 3 lit
    EXPECT_EQ(h.leds.ledMask, 0x08);
    EXPECT_FALSE(h.send(0xF7));
    EXPECT_FALSE(h.send(0x77 | 0x80));  // same byte
    EXPECT_TRUE(h.send(0x80));          // every LED lit
    EXPECT_EQ(h.leds.ledMask, 0x7F);
    EXPECT_FALSE(h.send(0x00 | 0x80));
}

TEST(HostCommands, BrightnessSendsAReportOnlyOnChange) {
    Host h;
    EXPECT_FALSE(h.send(0x54));  // level 0 is already stored
    EXPECT_TRUE(h.send(0x57));
    EXPECT_EQ(h.leds.ledBrightness, 3);
    EXPECT_TRUE(h.send(0x55));
    EXPECT_EQ(h.leds.ledBrightness, 1);
    EXPECT_FALSE(h.send(0x55));
}

TEST(HostCommands, RepeatDelayAndIntervalTables) {
    Host h;
    std::set<std::int32_t> delays, intervals;
    for (int n = 0; n < 16; ++n) {
        EXPECT_FALSE(h.send(static_cast<std::uint8_t>(0x60 + n)));
        EXPECT_EQ(h.repeat.repeatDelayMs, 200 + 100 * n);
        EXPECT_FALSE(h.send(static_cast<std::uint8_t>(0x70 + n)));
        EXPECT_EQ(h.repeat.repeatIntervalMs, 30 + 5 * n * n);
    }
    h.send(0x60);
    EXPECT_EQ(h.repeat.repeatDelayMs, 200);
    h.send(0x6F);
    EXPECT_EQ(h.repeat.repeatDelayMs, 1700);
    h.send(0x70);
    EXPECT_EQ(h.repeat.repeatIntervalMs, 30);
    h.send(0x7F);
    EXPECT_EQ(h.repeat.repeatIntervalMs, 1155);
    h.send(0x63);
    h.send(0x74);
    EXPECT_EQ(h.repeat.repeatDelayMs, 500);  // the power-on defaults
    EXPECT_EQ(h.repeat.repeatIntervalMs, 110);
}

TEST(HostCommands, UnusedBytesChangeNothing) {
    for (int b = 0x00; b < 0x60; ++b) {
        if (b >= 0x54 && b <= 0x57) {
            continue;
        }
        Host h;
        h.repeat.repeatCode = 0x1E;
        EXPECT_FALSE(h.send(static_cast<std::uint8_t>(b))) << b;
        EXPECT_EQ(h.repeat.repeatDelayMs, 500) << b;
        EXPECT_EQ(h.repeat.repeatIntervalMs, 110) << b;
        EXPECT_EQ(h.repeat.repeatCode, 0x1E) << b;
        EXPECT_EQ(h.leds.ledBrightness, 0) << b;
        EXPECT_EQ(h.leds.ledMask, 0) << b;
        EXPECT_EQ(h.msctrl.falls, 0u) << b;
        EXPECT_EQ(h.msctrl.level == MsctrlState::Level::Unknown, b != 0x40 && b != 0x41) << b;
    }
}

// ROM 1.0's mouse task: 0x41 and 0x40 in turn, for ever. Each 0x40 after a
// 0x41 asks the mouse for a packet; nothing else does.
TEST(HostCommands, EachFallOfMsctrlFromHighIsOneMouseRequest) {
    Host h;
    h.send(0x40);  // the host ran before the relay heard it raise the line
    EXPECT_EQ(h.msctrl.falls, 0u);
    for (const std::uint8_t b : {0x41, 0x41, 0x49, 0x40, 0x40, 0x41, 0x40}) {
        h.send(b);
    }
    EXPECT_EQ(h.msctrl.falls, 2u);
    EXPECT_EQ(h.msctrl.level, MsctrlState::Level::Low);
    EXPECT_EQ(h.leds.ledMask, 0);  // and the keyboard's own state is untouched
    EXPECT_EQ(h.repeat.repeatDelayMs, 500);
}

TEST(HostCommands, RepeatCommandsLeaveTheHeldKeyAlone) {
    Host h;
    h.repeat.repeatCode = 0x1E;
    h.repeat.repeatDue = 1500;
    h.send(0x6F);
    h.send(0x7F);
    EXPECT_EQ(h.repeat.repeatCode, 0x1E);
    EXPECT_EQ(h.repeat.repeatDue, 1500u);  // a due time already set does not move
}

}  // namespace
