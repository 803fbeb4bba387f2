#include "protocol/mouse_packet.h"

#include <gtest/gtest.h>

namespace {

using Packet = MouseMotion::Packet;

TEST(MousePacket, MotionIsSummedBetweenPacketsAndStartsAfreshAfterEach) {
    MouseMotion mouse;
    EXPECT_EQ(mouse.takePacket(), (Packet{0x00, 0x00, 0x00}));  // no motion is a packet too
    mouse.move(3, -2);
    mouse.move(4, -1);
    EXPECT_EQ(mouse.takePacket(), (Packet{0x00, 7, 0xFD}));  // +7 right, 3 up
    EXPECT_EQ(mouse.takePacket(), (Packet{0x00, 0x00, 0x00}));
}

TEST(MousePacket, ButtonsAreReportedAsTheyAreWhenThePacketIsMade) {
    MouseMotion mouse;
    mouse.setButtons(true, false);
    EXPECT_EQ(mouse.takePacket()[0], 0x01);
    mouse.setButtons(true, true);
    EXPECT_EQ(mouse.takePacket()[0], 0x03);
    EXPECT_EQ(mouse.takePacket()[0], 0x03);  // held, not a one-off
    mouse.setButtons(false, true);
    mouse.move(1, 1);
    mouse.reset();  // unplugged: buttons up, motion forgotten
    EXPECT_EQ(mouse.takePacket(), (Packet{0x00, 0x00, 0x00}));
}

TEST(MousePacket, AClickShorterThanTheHostsRequestsIsNotLost) {
    MouseMotion mouse;
    mouse.setButtons(true, false);
    mouse.setButtons(false, false);  // down and up between two requests
    EXPECT_EQ(mouse.takePacket()[0], 0x01);
    EXPECT_EQ(mouse.takePacket()[0], 0x00);
    mouse.setButtons(false, true);
    EXPECT_EQ(mouse.takePacket()[0], 0x02);
    mouse.setButtons(false, false);  // held, let go of and pressed again
    mouse.setButtons(false, true);
    EXPECT_EQ(mouse.takePacket()[0], 0x00);
    EXPECT_EQ(mouse.takePacket()[0], 0x02);
    EXPECT_EQ(mouse.takePacket()[0], 0x02);
}

TEST(MousePacket, MotionPastABytesRangeIsClampedWithItsOverflowBit) {
    struct Case {
        std::int32_t dx, dy;
        Packet packet;
    };
    for (const Case& c : {
             Case{127, -128, {0x00, 0x7F, 0x80}},   // the bounds themselves: no overflow
             Case{128, 0, {0x10, 0x7F, 0x00}},      // X past +127
             Case{-129, 0, {0x20, 0x80, 0x00}},     // X past -128
             Case{0, 500, {0x40, 0x00, 0x7F}},      // Y past +127
             Case{-300, -300, {0xA0, 0x80, 0x80}},  // both past -128
         }) {
        MouseMotion mouse;
        mouse.move(c.dx, c.dy);
        EXPECT_EQ(mouse.takePacket(), c.packet) << c.dx << "," << c.dy;
        EXPECT_EQ(mouse.takePacket(), (Packet{0x00, 0x00, 0x00})) << "the excess is dropped";
    }
}

TEST(MousePacket, SumsCannotOverflowWhileTheHostDoesNotAsk) {
    MouseMotion mouse;
    for (int i = 0; i < 5000; ++i) {
        mouse.move(1 << 30, -(1 << 30));
    }
    EXPECT_EQ(mouse.takePacket(), (Packet{0x90, 0x7F, 0x80}));
}

}  // namespace
