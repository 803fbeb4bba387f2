// Turns the X68000 Z keyboard's two input reports into X68000 scan-code bytes.
//
// Endpoint 0x81 carries an 8-byte HID boot-keyboard report (modifier bits, a
// reserved byte, six key slots); endpoint 0x82 a 16-byte bitmap with one bit per
// usage 0x00-0x7F. Each report is compared with the previous report of the same
// endpoint, and every change whose usage has an X68000 key becomes one byte in
// the key queue: the make code, or the make code with bit 7 set for a release.
// The endpoints are decoded independently; nothing merges them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "io/byte_queue.h"

// One per endpoint: bytes 0-15 receive the current report (libusb writes them as
// the transfer buffer), bytes 16-31 keep the previous report. Zeroed when the
// keyboard is opened, so the first report is compared against "no key down".
struct ReportBuffer {
    static constexpr std::size_t kHalf = 16;
    std::array<std::uint8_t, 2 * kHalf> bytes{};

    std::uint8_t* current() { return bytes.data(); }
    std::uint8_t* previous() { return bytes.data() + kHalf; }
};

constexpr std::uint8_t kBootEndpoint = 0x81;
constexpr std::uint8_t kBitmapEndpoint = 0x82;
constexpr std::size_t kBootReportLength = 8;
constexpr std::size_t kBitmapReportLength = 16;

// Decodes the report that has just completed into buffer.current(), pushes one
// byte per key change into keyQueue and remembers the report as the previous one.
// A report from another endpoint, or of another length, is ignored entirely.
void decodeReport(std::uint8_t endpoint, std::size_t actualLength, ReportBuffer& buffer,
                  ByteQueue& keyQueue);
