#include "protocol/host_commands.h"

namespace {

constexpr std::uint8_t kMsctrlLow = 0x40;
constexpr std::uint8_t kMsctrlHigh = 0x41;

void setMsctrl(MsctrlState& msctrl, MsctrlState::Level level) {
    if (level == MsctrlState::Level::Low && msctrl.level == MsctrlState::Level::High) {
        ++msctrl.falls;
    }
    msctrl.level = level;
}

}  // namespace

bool applyHostCommand(std::uint8_t byte, RepeatState& repeat, LedState& leds, MsctrlState& msctrl) {
    const std::int32_t n = byte & 0x0F;
    switch (byte >> 4) {
        case 0x4:
            if (byte == kMsctrlLow) {
                setMsctrl(msctrl, MsctrlState::Level::Low);
            } else if (byte == kMsctrlHigh) {
                setMsctrl(msctrl, MsctrlState::Level::High);
            }
            return false;
        case 0x5:
            if ((byte & 0x0C) == 0x04) {
                const std::int32_t level = byte & 0x03;
                if (level != leds.ledBrightness) {
                    leds.ledBrightness = level;
                    return true;
                }
            }
            return false;
        case 0x6:
            repeat.repeatDelayMs = (n + 2) * 100;
            return false;
        case 0x7:
            repeat.repeatIntervalMs = (n * n + 6) * 5;
            return false;
        default:
            break;
    }
    if (byte >= 0x80) {
        const std::int32_t mask = ~byte & 0x7F;
        if (mask != leds.ledMask) {
            leds.ledMask = mask;
            return true;
        }
    }
    return false;
}
