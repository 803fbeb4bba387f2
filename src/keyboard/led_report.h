// The keyboard's LED feature report: the host's lit-LED mask and brightness
// turned into the 65-byte HID feature report (report ID 0x0A) that the X68000 Z
// keyboard takes on interface 1 through SET_REPORT.
#pragma once

#include <array>
#include <cstdint>

using LedReport = std::array<std::uint8_t, 65>;

// SET_REPORT, class request to an interface, host to device.
struct LedControlTransfer {
    static constexpr std::uint8_t kRequestType = 0x21;
    static constexpr std::uint8_t kRequest = 0x09;
    static constexpr std::uint16_t kValue = 0x030A;  // feature report, ID 0x0A
    static constexpr std::uint16_t kIndex = 1;       // interface 1
    // A report the keyboard has not answered by then is given up, and the
    // host's next state goes out in its place. Nobody waits for it: the relay
    // relays on, and a stop leaves it to the keyboard's release.
    static constexpr unsigned kTimeoutMs = 250;
};

// Brightness 0 (brightest) to 3 (dimmest); any other value lights at full.
// Mask bit i lit means LED i shows that level. Byte 12 has no LED and stays 0.
LedReport buildLedReport(std::int32_t brightness, std::int32_t mask);
