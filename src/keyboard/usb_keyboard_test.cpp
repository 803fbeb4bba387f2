// Opening and closing the keyboard with real libusb against an emulated keyboard.
#include <gtest/gtest.h>

#include "keyboard/usb_keyboard.h"
#include "usb/emulated_keyboard.h"

namespace {

constexpr std::uint8_t kBoot = EmulatedKeyboard::kBootEndpoint;
constexpr std::uint8_t kBitmap = EmulatedKeyboard::kBitmapEndpoint;

void expectNothingUnexpected(const EmulatedKeyboard& kb) {
    EXPECT_TRUE(kb.unexpectedIoctls().empty()) << ::testing::PrintToString(kb.unexpectedIoctls());
}

// Everything opened was given back: interfaces released to the kernel driver,
// node closed, no URB left in flight.
void expectAllReleased(const EmulatedKeyboard& kb, int claimedInterfaces) {
    for (int i = 0; i < claimedInterfaces; ++i) {
        EXPECT_EQ(kb.releases(i), 1) << "interface " << i;
        EXPECT_EQ(kb.reattaches(i), 1) << "interface " << i;
        EXPECT_FALSE(kb.claimed(i)) << "interface " << i;
    }
    // umockdev learns of the close on its own thread, a moment later.
    EXPECT_TRUE(kb.waitForCloses(kb.opens()));
    EXPECT_FALSE(kb.inFlight(kBoot));
    EXPECT_FALSE(kb.inFlight(kBitmap));
}

TEST(UsbKeyboard, NoKeyboardMeansNoConnectionAndNothingHeld) {
    EmulatedKeyboard kb(EmulatedKeyboard::Options{.present = false});
    {
        ByteQueue keys;
        UsbKeyboard keyboard{keys};
        EXPECT_FALSE(keyboard.open());
        EXPECT_FALSE(keyboard.active());
        EXPECT_FALSE(keyboard.open());  // libusb was shut down and can start again
        keyboard.close();
    }
    EXPECT_EQ(kb.opens(), 0);
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, OpenClaimsBothInterfacesAndKeepsBothTransfersSubmitted) {
    EmulatedKeyboard kb;
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    ASSERT_TRUE(keyboard.open());
    EXPECT_TRUE(keyboard.active());
    EXPECT_EQ(kb.claims(0), 1);
    EXPECT_EQ(kb.claims(1), 1);
    EXPECT_EQ(kb.detaches(0), 1);  // the kernel's driver made way
    EXPECT_EQ(kb.detaches(1), 1);
    EXPECT_TRUE(kb.inFlight(kBoot));
    EXPECT_TRUE(kb.inFlight(kBitmap));

    keyboard.close();
    EXPECT_FALSE(keyboard.active());
    EXPECT_EQ(kb.discards(kBoot), 1);
    EXPECT_EQ(kb.discards(kBitmap), 1);
    expectAllReleased(kb, 2);
    keyboard.close();  // a second close finds nothing to do
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, AnInterfaceAnotherProgramHoldsIsAskedForFirstSoNoDriverIsTakenInVain) {
    for (const int held : {0, 1}) {
        EmulatedKeyboard kb(EmulatedKeyboard::Options{.failClaimInterface = held});
        ByteQueue keys;
        UsbKeyboard keyboard{keys};
        EXPECT_FALSE(keyboard.open());
        EXPECT_EQ(keyboard.failure(), UsbKeyboard::Failure::Busy);
        // The kernel's driver kept the other interface: the console still types.
        EXPECT_EQ(kb.claims(1 - held), 0) << "held " << held;
        EXPECT_EQ(kb.detaches(1 - held), 0) << "held " << held;
        EXPECT_EQ(kb.submits(kBoot) + kb.submits(kBitmap), 0);
        EXPECT_TRUE(kb.waitForCloses(kb.opens()));
        expectNothingUnexpected(kb);
    }
}

TEST(UsbKeyboard, FailedSubmissionGivesBackEverythingAndDecodesNothing) {
    EmulatedKeyboard kb(EmulatedKeyboard::Options{.failSubmitEndpoint = kBitmap});
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    EXPECT_FALSE(keyboard.open());
    EXPECT_EQ(kb.submits(kBitmap), 0);
    EXPECT_EQ(kb.discards(kBoot), 1);  // cancelled and ended before it was freed
    expectAllReleased(kb, 2);
    // A key pressed meanwhile completes the first transfer before the cancel
    // can reach it; a connection that never opened types nothing of it.
    kb.sendReport(kBoot, {0, 0, 0x04, 0, 0, 0, 0, 0});
    EXPECT_FALSE(keyboard.open());
    std::uint8_t b = 0;
    EXPECT_EQ(keys.read(&b, 1), 0u);
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, FailedFirstSubmissionHasNothingToCancel) {
    EmulatedKeyboard kb(EmulatedKeyboard::Options{.failSubmitEndpoint = kBoot});
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    EXPECT_FALSE(keyboard.open());
    EXPECT_EQ(kb.discards(kBoot), 0);
    expectAllReleased(kb, 2);
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, OpeningAgainClosesTheFirstConnection) {
    EmulatedKeyboard kb;
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    ASSERT_TRUE(keyboard.open());
    ASSERT_TRUE(keyboard.open());
    EXPECT_EQ(kb.opens(), 2);
    EXPECT_TRUE(kb.waitForCloses(1));
    EXPECT_EQ(kb.claims(0), 2);
    keyboard.close();
    EXPECT_TRUE(kb.waitForCloses(2));
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, CloseGivesUpOnCancellationsThatDoNotEnd) {
    EmulatedKeyboard kb;
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    ASSERT_TRUE(keyboard.open());
    kb.holdDiscards(true);
    // Both cancellations stay pending: closing waits for them a while, then
    // lets go of the device anyway, leaving the transfers to libusb unfreed
    // (ASan would see a transfer freed under the kernel's feet).
    keyboard.close();
    EXPECT_EQ(kb.discards(kBoot), 1);
    EXPECT_EQ(kb.discards(kBitmap), 1);
    EXPECT_TRUE(kb.waitForCloses(1));
    kb.holdDiscards(false);
    EXPECT_FALSE(kb.claimed(0));
    EXPECT_FALSE(kb.claimed(1));
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, ReportWaitingAtCloseIsNotResubmitted) {
    EmulatedKeyboard kb;
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    ASSERT_TRUE(keyboard.open());
    // No worker runs, so nobody reaps this report before closing does.
    kb.sendReport(kBoot, {0, 0, 0x04, 0, 0, 0, 0, 0});
    keyboard.close();
    EXPECT_EQ(kb.submits(kBoot), 1);
    expectAllReleased(kb, 2);
    expectNothingUnexpected(kb);
}

TEST(UsbKeyboard, CloseAfterUnplugStillReleasesEverything) {
    EmulatedKeyboard kb;
    ByteQueue keys;
    UsbKeyboard keyboard{keys};
    ASSERT_TRUE(keyboard.open());
    kb.unplug();
    keyboard.close();
    EXPECT_FALSE(keyboard.active());
    EXPECT_TRUE(kb.waitForCloses(1));
    EXPECT_FALSE(kb.inFlight(kBoot));
    expectNothingUnexpected(kb);
}

}  // namespace
