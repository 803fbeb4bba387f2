#include "protocol/key_output.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/pty_pair.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kSentinel = 0xFF;  // never produced by these tests' keys

// pumpKeys against a real tty, with a clock the test sets by hand.
class KeyOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(port.open(pty.slavePath()));
        resetRepeat(repeat);
    }

    // Queues bytes, runs one step at tick `at` and returns what reached the wire.
    Bytes step(std::uint32_t at, Bytes queued = {}) {
        for (std::uint8_t b : queued) {
            keys.push(b);
        }
        now = at;
        pumpKeys(keys, port, repeat, clock);
        port.writeByte(kSentinel);
        return pty.readUntil(kSentinel);
    }

    PtyPair pty;
    SerialPort port;
    ByteQueue keys;
    RepeatState repeat;
    std::uint32_t now = 0;
    TickSource clock = [this] { return now; };
};

TEST_F(KeyOutput, HeldKeyRepeatsAfterDelayThenAtInterval) {
    EXPECT_EQ(step(1000, {0x1E}), Bytes{0x1E});
    EXPECT_EQ(repeat.repeatDue, 1500u);
    EXPECT_EQ(step(1499), Bytes{});
    EXPECT_EQ(step(1500), Bytes{0x1E});
    EXPECT_EQ(repeat.repeatDue, 1610u);
    EXPECT_EQ(step(1609), Bytes{});
    EXPECT_EQ(step(1612), Bytes{0x1E});
    EXPECT_EQ(repeat.repeatDue, 1720u);  // from the old due time, not from now
}

TEST_F(KeyOutput, LateStepsCatchUpOneRepeatPerStep) {
    step(0, {0x1E});
    EXPECT_EQ(step(900), Bytes{0x1E});  // due 500: 610, 720, 830 still owed
    EXPECT_EQ(step(901), Bytes{0x1E});
    EXPECT_EQ(step(902), Bytes{0x1E});
    EXPECT_EQ(step(903), Bytes{0x1E});
    EXPECT_EQ(step(904), Bytes{});  // next due 940
}

TEST_F(KeyOutput, ReleaseOfRepeatingKeyStopsIt) {
    step(1000, {0x1E});
    EXPECT_EQ(step(1200, {0x9E}), Bytes{0x9E});
    EXPECT_EQ(repeat.repeatCode, 0);
    EXPECT_EQ(step(5000), Bytes{});
}

TEST_F(KeyOutput, LastKeyPressedIsTheOneThatRepeats) {
    step(1000, {0x1E});
    EXPECT_EQ(step(1100, {0x2E}), Bytes{0x2E});
    EXPECT_EQ(step(1600), Bytes{0x2E});
    EXPECT_EQ(step(1650, {0xAE}), Bytes{0xAE});
    EXPECT_EQ(step(3000), Bytes{});  // 0x1E is still held but does not repeat
}

TEST_F(KeyOutput, ModifiersRepeatLikeOtherKeys) {
    step(1000, {0x1E});
    EXPECT_EQ(step(1100, {0x70}), Bytes{0x70});
    EXPECT_EQ(step(1600), Bytes{0x70});
    EXPECT_EQ(step(1650, {0xF0}), Bytes{0xF0});
    EXPECT_EQ(step(3000), Bytes{});
}

TEST_F(KeyOutput, ReleaseOfAnotherKeyRestartsTheDelay) {
    step(1000, {0x1E});
    EXPECT_EQ(step(1400, {0x9F}), Bytes{0x9F});
    EXPECT_EQ(repeat.repeatCode, 0x1E);
    EXPECT_EQ(step(1500), Bytes{});
    EXPECT_EQ(step(1899), Bytes{});
    EXPECT_EQ(step(1900), Bytes{0x1E});
}

TEST_F(KeyOutput, QueuedBytesGoOutBeforeTheStepsRepeat) {
    // Every queued make or break re-arms the delay, so only a zero delay (which
    // no host command sets) lets the repeat fall due in the same step.
    repeat.repeatDelayMs = 0;
    EXPECT_EQ(step(1000, {0x1E, 0x20, 0xA0, 0x2E, 0x9F}),
              (Bytes{0x1E, 0x20, 0xA0, 0x2E, 0x9F, 0x2E}));
}

TEST_F(KeyOutput, RepeatsKeepTimeAcrossTheTickWrap) {
    const std::uint32_t start = 0xFFFFFFFFu - 300;  // due lands 199 ms past the wrap
    EXPECT_EQ(step(start, {0x1E}), Bytes{0x1E});
    EXPECT_EQ(step(0xFFFFFFFFu), Bytes{});  // before the wrap: not due yet
    EXPECT_EQ(step(198), Bytes{});
    EXPECT_EQ(step(199), Bytes{0x1E});
    EXPECT_EQ(repeat.repeatDue, 309u);
}

TEST_F(KeyOutput, ChangedTimesApplyFromTheNextScheduling) {
    step(1000, {0x1E});
    repeat.repeatDelayMs = 200;
    repeat.repeatIntervalMs = 30;
    EXPECT_EQ(step(1499), Bytes{});  // the due time already set stays at 1500
    EXPECT_EQ(step(1500), Bytes{0x1E});
    EXPECT_EQ(step(1530), Bytes{0x1E});
    EXPECT_EQ(step(1600, {0x2E}), Bytes{0x2E});
    EXPECT_EQ(repeat.repeatDue, 1800u);
}

TEST_F(KeyOutput, ClosedPortStillDrainsQueueAndTracksRepeat) {
    port.close();
    keys.push(0x1E);
    now = 1000;
    pumpKeys(keys, port, repeat, clock);
    EXPECT_EQ(keys.chunkCount(), 0u);
    EXPECT_EQ(repeat.repeatCode, 0x1E);
    EXPECT_EQ(repeat.repeatDue, 1500u);
}

TEST(RepeatState, ResetAndStop) {
    RepeatState r{0x1E, 1234, 1700, 30};
    stopRepeat(r);
    EXPECT_EQ(r.repeatCode, 0);
    EXPECT_EQ(r.repeatDue, 0u);
    EXPECT_EQ(r.repeatDelayMs, 1700);
    EXPECT_EQ(r.repeatIntervalMs, 30);
    resetRepeat(r);
    EXPECT_EQ(r.repeatDelayMs, 500);
    EXPECT_EQ(r.repeatIntervalMs, 110);
}

}  // namespace
