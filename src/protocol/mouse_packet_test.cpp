#include "protocol/mouse_packet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

using Packet = MouseMotion::Packet;

// The motion one packet tells, as signed counts.
std::pair<int, int> toldMotion(MouseMotion& mouse) {
    const Packet p = mouse.takePacket();
    return {static_cast<std::int8_t>(p[1]), static_cast<std::int8_t>(p[2])};
}

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

TEST(MousePacket, ScaledMotionCarriesItsFractionsSoSlowMotionIsNotLost) {
    MouseMotion mouse(0.3);
    int x = 0;
    int y = 0;
    for (int i = 0; i < 10; ++i) {  // one count a packet, each alone too little
        mouse.move(1, -1);
        const auto [dx, dy] = toldMotion(mouse);
        x += dx;
        y += dy;
    }
    EXPECT_EQ(x, 3);
    EXPECT_EQ(y, -3);
    mouse.move(1, 1);
    mouse.reset();  // unplugged: the fraction goes with the motion
    mouse.move(1, 1);
    EXPECT_EQ(toldMotion(mouse), std::pair(0, 0));
    mouse.move(1, 1);
    EXPECT_EQ(toldMotion(mouse), std::pair(1, 1));
}

TEST(MousePacket, ScaledMotionThatComesBackEndsWhereItStarted) {
    const int moves[] = {1, 1, 3, -2, 1, 5, 1, -1, 2, 1};
    for (const double scale : {0.1, 0.3, 0.5, 0.75, 1.7, 2.5, 10.0}) {
        MouseMotion mouse(scale);
        mouse.move(1, -1);  // a fraction carried from before
        std::pair<int, int> at = toldMotion(mouse);
        const std::pair<int, int> start = at;
        for (const int forth : {1, -1}) {
            for (const int m : moves) {
                mouse.move(forth * m, -forth * m);
                const auto [dx, dy] = toldMotion(mouse);
                at = {at.first + dx, at.second + dy};
            }
            if (forth == 1) {  // 13 counts from where it stood before all
                EXPECT_EQ(at.first, std::lround(13 * scale)) << scale;
            }
        }
        EXPECT_EQ(at, start) << scale;
    }
}

TEST(MousePacket, ScaledMotionIsClampedAndBoundedAsAnyOther) {
    MouseMotion fast(MouseMotion::kMaxScale);
    fast.move(13, -13);
    EXPECT_EQ(fast.takePacket(), (Packet{0x10 | 0x80, 0x7F, 0x80}));  // 130 and -130
    EXPECT_EQ(fast.takePacket(), (Packet{0x00, 0, 0}));               // the excess dropped
    for (int i = 0; i < 5000; ++i) {
        fast.move(std::numeric_limits<std::int32_t>::max(),
                  std::numeric_limits<std::int32_t>::min());
    }
    EXPECT_EQ(fast.takePacket(), (Packet{0x90, 0x7F, 0x80}));
    MouseMotion slow(MouseMotion::kMinScale);
    slow.move(-1290, 1270);
    EXPECT_EQ(slow.takePacket(), (Packet{0x20, 0x80, 0x7F}));  // -129 past the bound, 127 not

    for (const double refused : {0.09, 10.01, -1.0, std::nan("")}) {
        EXPECT_THROW(MouseMotion{refused}, std::invalid_argument) << refused;
        EXPECT_THROW(slow.setScale(refused), std::invalid_argument) << refused;
    }
}

}  // namespace
