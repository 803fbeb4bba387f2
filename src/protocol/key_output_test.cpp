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
        pumpKeys(keys, port, repeat, held, at);
        port.writeByte(kSentinel);
        return pty.readUntil(kSentinel);
    }

    PtyPair pty;
    SerialPort port;
    ByteQueue keys;
    RepeatState repeat;
    HeldKeys held;
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

TEST_F(KeyOutput, AStallSendsOneLateRepeatThenTheRhythmStartsAgain) {
    step(0, {0x1E});
    // Ten minutes late: one repeat, not the 5450 that were due meanwhile.
    EXPECT_EQ(step(600000), Bytes{0x1E});
    EXPECT_EQ(step(600001), Bytes{});
    EXPECT_EQ(step(600109), Bytes{});
    EXPECT_EQ(step(600110), Bytes{0x1E});
    // Exactly one interval late counts as a stall too: nothing is owed after it.
    EXPECT_EQ(step(600330), Bytes{0x1E});
    EXPECT_EQ(step(600331), Bytes{});
    EXPECT_EQ(repeat.repeatDue, 600440u);
}

TEST_F(KeyOutput, ALittleLateKeepsTheScheduleFromTheDueTime) {
    step(0, {0x1E});
    EXPECT_EQ(step(609), Bytes{0x1E});  // due at 500, 109 ms late: less than an interval
    EXPECT_EQ(repeat.repeatDue, 610u);
    EXPECT_EQ(step(610), Bytes{0x1E});
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
    pumpKeys(keys, port, repeat, held, 1000);
    EXPECT_EQ(keys.size(), 0u);
    EXPECT_EQ(repeat.repeatCode, 0x1E);
    EXPECT_EQ(repeat.repeatDue, 1500u);
    EXPECT_FALSE(held.any());  // the host never heard of the key
}

TEST_F(KeyOutput, HeldKeysAreLetGoLowestCodeFirstAndTheRepeatStops) {
    // Shift (0x70) and A held, B pressed and let go: the host holds 0x1E and 0x70.
    step(1000, {0x70, 0x1E, 0x2E, 0xAE});
    EXPECT_EQ(held.count(), 2u);
    releaseHeldKeys(port, repeat, held);
    port.writeByte(kSentinel);
    EXPECT_EQ(pty.readUntil(kSentinel), (Bytes{0x9E, 0xF0}));
    EXPECT_FALSE(held.any());
    EXPECT_EQ(repeat.repeatCode, 0);
    EXPECT_EQ(step(5000), Bytes{});
    releaseHeldKeys(port, repeat, held);  // nothing left to let go
    port.writeByte(kSentinel);
    EXPECT_EQ(pty.readUntil(kSentinel), Bytes{});
}

TEST(RepeatSchedule, TimeLeftUntilTheNextRepeat) {
    RepeatState r{0, 0, 500, 110};
    EXPECT_EQ(msUntilRepeat(r, 1000), -1);
    r = {0x1E, 1500, 500, 110};
    EXPECT_EQ(msUntilRepeat(r, 1000), 500);
    EXPECT_EQ(msUntilRepeat(r, 1500), 0);
    EXPECT_EQ(msUntilRepeat(r, 9000), 0);
    r.repeatDue = 20;  // past the wrap
    EXPECT_EQ(msUntilRepeat(r, 0xFFFFFFF0u), 36);
    EXPECT_FALSE(repeatIsDue(r, 0xFFFFFFF0u));
    EXPECT_TRUE(repeatIsDue(r, 20));
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
