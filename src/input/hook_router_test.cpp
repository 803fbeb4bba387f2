// Which side each key and button a hook sees goes to.
#include "input/hook_router.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "support/manual_clock.h"

namespace {

using Fate = HookRouter::KeyFate;
using Button = HookRouter::Button;

constexpr unsigned kScrollLock = 0x46;  // positions: the scan codes
constexpr unsigned kA = 0x1E;
constexpr unsigned kB = 0x30;

class HookRouterTest : public ::testing::Test {
protected:
    // Presses and lets go of Scroll Lock; the fates of both.
    std::pair<Fate, Fate> tap() {
        const Fate press = router.key(kScrollLock, KEY_SCROLLLOCK, true);
        return {press, router.key(kScrollLock, KEY_SCROLLLOCK, false)};
    }
    // Two taps within the double tap's time: the switch moves.
    void switchOver() {
        tap();
        clock.set(clock.get() + 100);
        tap();
        clock.set(clock.get() + 1000);
    }

    ManualClock clock;
    std::shared_ptr<ShareSwitch> share =
        std::make_shared<ShareSwitch>(KEY_SCROLLLOCK, "Scroll Lock", clock.source());
    HookRouter router{share};
};

TEST_F(HookRouterTest, AKeyIsLetGoOfOnTheSideThatSawItGoDown) {
    EXPECT_EQ(router.key(kA, KEY_A, true), Fate::Pass);
    // Held across the switch: its repeats and release stay the computer's.
    EXPECT_EQ(tap(), std::make_pair(Fate::Pass, Fate::Pass));  // a first tap is the computer's
    clock.set(clock.get() + 100);
    EXPECT_EQ(tap(), std::make_pair(Fate::Drop, Fate::Drop));  // the second switches
    ASSERT_EQ(share->side(), ShareSwitch::Side::X68000);
    EXPECT_EQ(router.key(kA, KEY_A, true), Fate::Pass);
    EXPECT_EQ(router.key(kA, KEY_A, false), Fate::Pass);
    // A key pressed now is the X68000's, its repeats dropped, until let go of,
    // even with the keyboard back on the computer meanwhile.
    EXPECT_EQ(router.key(kB, KEY_M, true), Fate::Take);
    EXPECT_EQ(router.key(kB, KEY_M, true), Fate::Drop);
    clock.set(clock.get() + 1000);
    switchOver();
    ASSERT_EQ(share->side(), ShareSwitch::Side::Computer);
    EXPECT_EQ(router.key(kB, KEY_M, true), Fate::Drop);
    EXPECT_EQ(router.key(kB, KEY_M, false), Fate::Take);
    EXPECT_EQ(router.key(kB, KEY_M, true), Fate::Pass);
    // A key without a Linux code goes one way or the other all the same, and
    // a release whose press nobody saw is the computer's.
    switchOver();
    EXPECT_EQ(router.key(0x200 | 0x1D, 0, true), Fate::Take);
    EXPECT_EQ(router.key(0x200 | 0x1D, 0, false), Fate::Take);
    EXPECT_EQ(router.key(kA, KEY_A, false), Fate::Pass);
}

TEST_F(HookRouterTest, OnTheX68000sSideASingleTapIsHeldBackAndItsRepeatsAndReleaseGoNowhere) {
    switchOver();
    EXPECT_EQ(router.key(kScrollLock, KEY_SCROLLLOCK, true), Fate::Hold);
    EXPECT_EQ(router.key(kScrollLock, KEY_SCROLLLOCK, true), Fate::Drop);  // a repeat: no tap
    EXPECT_EQ(router.key(kScrollLock, KEY_SCROLLLOCK, false), Fate::Drop);
    EXPECT_EQ(share->side(), ShareSwitch::Side::X68000);
    // Another key in the switch key's place is the X68000's key as any.
    const auto other = std::make_shared<ShareSwitch>(KEY_PAUSE, "Pause", clock.source());
    HookRouter byPause(other);
    byPause.key(0x45, KEY_PAUSE, true);
    byPause.key(0x45, KEY_PAUSE, false);
    clock.set(clock.get() + 10);
    byPause.key(0x45, KEY_PAUSE, true);
    EXPECT_EQ(byPause.key(kScrollLock, KEY_SCROLLLOCK, true), Fate::Take);
}

TEST_F(HookRouterTest, ButtonsFollowTheirPressAndMotionTheSwitch) {
    EXPECT_TRUE(router.buttonPasses(Button::Left, true));
    EXPECT_FALSE(router.mouseToX68000());
    switchOver();
    EXPECT_TRUE(router.mouseToX68000());
    EXPECT_TRUE(router.buttonPasses(Button::Left, false));
    EXPECT_FALSE(router.buttonPasses(Button::Right, true));
    EXPECT_FALSE(router.buttonPasses(Button::Middle, true));
    switchOver();
    EXPECT_FALSE(router.mouseToX68000());
    EXPECT_FALSE(router.buttonPasses(Button::Right, false));
    EXPECT_FALSE(router.buttonPasses(Button::Middle, false));
    EXPECT_TRUE(router.buttonPasses(Button::Right, true));
    // Installed anew, the hooks take nothing as down: a release is the
    // computer's.
    switchOver();
    router.key(kA, KEY_A, true);
    router.reset();
    EXPECT_EQ(router.key(kA, KEY_A, false), Fate::Pass);
}

}  // namespace
