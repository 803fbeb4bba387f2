#include "keyboard/led_report.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The report bytes that carry LEDs: mask bit i -> byte, in bit order.
constexpr int kLedByteOfBit[7] = {7, 8, 9, 10, 11, 13, 14};

void expectOnly(const LedReport& r, std::initializer_list<int> litBytes, std::uint8_t level) {
    EXPECT_EQ(r[0], 0x0A);
    EXPECT_EQ(r[1], 0xF8);
    for (int i = 2; i < 65; ++i) {
        const bool lit = std::find(litBytes.begin(), litBytes.end(), i) != litBytes.end();
        EXPECT_EQ(r[i], lit ? level : 0) << "byte " << i;
    }
}

TEST(LedReport, SingleLedsLandOnTheirBytes) {
    expectOnly(buildLedReport(0, 0x01), {7}, 0xFF);
    expectOnly(buildLedReport(3, 0x20), {13}, 0x20);
    for (int bit = 0; bit < 7; ++bit) {
        expectOnly(buildLedReport(1, 1 << bit), {kLedByteOfBit[bit]}, 0x80);
    }
}

TEST(LedReport, AllLedsLeaveByteTwelveDark) {
    expectOnly(buildLedReport(2, 0x7F), {7, 8, 9, 10, 11, 13, 14}, 0x40);
}

TEST(LedReport, BrightnessLevels) {
    EXPECT_EQ(buildLedReport(0, 1)[7], 0xFF);
    EXPECT_EQ(buildLedReport(1, 1)[7], 0x80);
    EXPECT_EQ(buildLedReport(2, 1)[7], 0x40);
    EXPECT_EQ(buildLedReport(3, 1)[7], 0x20);
    EXPECT_EQ(buildLedReport(4, 1)[7], 0xFF);
    EXPECT_EQ(buildLedReport(-1, 1)[7], 0xFF);
}

TEST(LedReport, NoMaskNoLight) {
    expectOnly(buildLedReport(0, 0), {}, 0);
    expectOnly(buildLedReport(0, 0x80), {}, 0);  // there is no eighth LED
}

}  // namespace
