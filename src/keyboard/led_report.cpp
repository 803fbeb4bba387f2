#include "keyboard/led_report.h"

namespace {

std::uint8_t levelFor(std::int32_t brightness) {
    switch (brightness) {
        case 1:
            return 0x80;
        case 2:
            return 0x40;
        case 3:
            return 0x20;
        default:
            return 0xFF;
    }
}

// Report byte of each mask bit: LEDs 0-4 sit at bytes 7-11, LEDs 5-6 at 13-14.
constexpr std::array<std::uint8_t, 7> kLedByte = {7, 8, 9, 10, 11, 13, 14};

}  // namespace

LedReport buildLedReport(std::int32_t brightness, std::int32_t mask) {
    LedReport report{};
    report[0] = 0x0A;
    report[1] = 0xF8;
    const std::uint8_t level = levelFor(brightness);
    for (unsigned bit = 0; bit < kLedByte.size(); ++bit) {
        if ((mask >> bit) & 1) {
            report[kLedByte[bit]] = level;
        }
    }
    return report;
}
