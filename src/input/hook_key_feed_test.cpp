// The X68000's side of a hooked keyboard: the keys taken, the single tap typed
// late, the breaks when the switch moves.
#include "input/hook_key_feed.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "support/manual_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class HookKeyFeedTest : public ::testing::Test {
protected:
    HookKeyFeedTest() {
        // Two taps: the keyboard is the X68000's.
        share->tapped();
        share->tapped();
        feed.reset();
    }

    Bytes key(unsigned code, bool down) {
        Bytes out;
        feed.key(code, down, share->moves(), out);
        return out;
    }
    Bytes look() {
        Bytes out;
        feed.look(clock.get(), out);
        return out;
    }

    ManualClock clock;
    std::shared_ptr<ShareSwitch> share =
        std::make_shared<ShareSwitch>(KEY_SCROLLLOCK, "Scroll Lock", clock.source());
    HookKeyFeed feed{share, KeyTranslator(defaultInputKeyMap())};
};

TEST_F(HookKeyFeedTest, KeysHeldGetTheirBreaksWhenTheSwitchMovesAndTheirReleasesNothing) {
    EXPECT_EQ(key(KEY_LEFTSHIFT, true), Bytes{0x70});
    EXPECT_EQ(key(KEY_A, true), Bytes{0x1E});
    EXPECT_EQ(look(), Bytes{});
    const std::uint64_t before = share->moves();
    share->toComputer();
    EXPECT_EQ(look(), (Bytes{0x9E, 0xF0}));
    EXPECT_EQ(key(KEY_A, false), Bytes{});
    EXPECT_EQ(key(KEY_LEFTSHIFT, false), Bytes{});
    // A press the hook took before a move this side has followed is not
    // typed; one after a move it had not followed comes after the breaks.
    Bytes out;
    feed.key(KEY_B, true, before, out);
    EXPECT_EQ(out, Bytes{});
    clock.set(clock.get() + 1000);
    share->tapped();
    share->tapped();
    EXPECT_EQ(key(KEY_C, true), Bytes{0x2C});
    clock.set(clock.get() + 1000);
    share->tapped();
    share->tapped();
    clock.set(clock.get() + 1000);
    share->tapped();
    share->tapped();
    EXPECT_EQ(key(KEY_D, true), (Bytes{0xAC, 0x20}));
}

TEST_F(HookKeyFeedTest, ASingleTapIsTypedOnceTheDoubleTapsTimeIsOverUnlessTheSwitchMoved) {
    Bytes out;
    feed.held(clock.get(), share->moves(), out);
    EXPECT_EQ(feed.msUntilDue(clock.get()), 500);
    clock.set(clock.get() + 499);
    EXPECT_EQ(look(), Bytes{});
    EXPECT_EQ(feed.msUntilDue(clock.get()), 1);
    clock.set(clock.get() + 1);
    EXPECT_EQ(look(), (Bytes{0x54, 0xD4}));  // HELP
    EXPECT_EQ(feed.msUntilDue(clock.get()), -1);

    feed.held(clock.get(), share->moves(), out);
    share->tapped();  // a double tap: back to the computer
    share->tapped();
    clock.set(clock.get() + 600);
    EXPECT_EQ(look(), Bytes{});
    EXPECT_EQ(out, Bytes{});
}

}  // namespace
