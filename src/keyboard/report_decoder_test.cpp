#include "keyboard/report_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "keyboard/scan_code_table.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Feeds reports to one endpoint's buffer the way the transfer callback does.
class Decoder {
public:
    Bytes feed(std::uint8_t endpoint, Bytes report) {
        std::copy(report.begin(), report.end(), buffer.current());
        decodeReport(endpoint, report.size(), buffer, queue);
        Bytes out(4096);
        out.resize(queue.read(out.data(), out.size()));
        return out;
    }
    Bytes boot(Bytes report) { return feed(kBootEndpoint, report); }
    Bytes bitmap(Bytes report) { return feed(kBitmapEndpoint, report); }

    ReportBuffer buffer;
    ByteQueue queue;
};

Bytes bitmapWith(std::initializer_list<unsigned> usages) {
    Bytes r(16, 0);
    for (unsigned u : usages) {
        r[u / 8] |= static_cast<std::uint8_t>(1u << (u % 8));
    }
    return r;
}

constexpr std::uint8_t A = 0x04, B = 0x05, C = 0x06;

TEST(BootReport, PressAndReleaseOfOneKey) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0, A, 0, 0, 0, 0, 0}), Bytes{0x1E});
    EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, 0}), Bytes{0x9E});
}

TEST(BootReport, ModifiersComeBeforeKeysInBitOrder) {
    Decoder d;
    EXPECT_EQ(d.boot({0x02, 0, A, 0, 0, 0, 0, 0}), (Bytes{0x70, 0x1E}));
    // Right Alt and left Ctrl pressed together, Shift released: bit order.
    EXPECT_EQ(d.boot({0x41, 0, A, 0, 0, 0, 0, 0}), (Bytes{0x71, 0xF0, 0x59}));
}

TEST(BootReport, BothCtrlAndShiftSidesReportSeparately) {
    Decoder d;
    EXPECT_EQ(d.boot({0x11, 0, 0, 0, 0, 0, 0, 0}), (Bytes{0x71, 0x71}));
    EXPECT_EQ(d.boot({0x10, 0, 0, 0, 0, 0, 0, 0}), Bytes{0xF1});
    EXPECT_EQ(d.boot({0x22, 0, 0, 0, 0, 0, 0, 0}), (Bytes{0x70, 0xF1, 0x70}));
}

TEST(BootReport, KeyMovingToAnotherSlotIsStillHeld) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0, A, B, 0, 0, 0, 0}), (Bytes{0x1E, 0x2E}));
    EXPECT_EQ(d.boot({0, 0, B, 0, 0, 0, 0, 0}), Bytes{0x9E});  // B stays down
    EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, B}), Bytes{});
    EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, 0}), Bytes{0xAE});
}

TEST(BootReport, BreaksInOldSlotOrderThenMakesInNewSlotOrder) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0, B, A, 0, 0, 0, 0}), (Bytes{0x2E, 0x1E}));
    const std::uint8_t D = 0x07;
    EXPECT_EQ(d.boot({0, 0, D, C, 0, 0, 0, 0}), (Bytes{0xAE, 0x9E, 0x20, 0x2C}));
}

TEST(BootReport, RolloverReleasesHeldKeysAndEmitsNothingElse) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0, 1, 1, 1, 1, 1, 1}), Bytes{});
    Decoder held;
    held.boot({0, 0, A, B, 0, 0, 0, 0});
    EXPECT_EQ(held.boot({0, 0, 1, 1, 1, 1, 1, 1}), (Bytes{0x9E, 0xAE}));
}

TEST(BootReport, DuplicateUsageInSlotsCountsOnce) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0, A, A, 0, 0, 0, 0}), Bytes{0x1E});
    EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, 0}), Bytes{0x9E});
}

TEST(BootReport, ReservedByteIsIgnored) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0xFF, 0, 0, 0, 0, 0, 0}), Bytes{});
}

TEST(BitmapReport, BitPerUsageInUsageOrder) {
    Decoder d;
    EXPECT_EQ(d.bitmap(bitmapWith({A})), Bytes{0x1E});
    EXPECT_EQ(d.bitmap(bitmapWith({})), Bytes{0x9E});
    EXPECT_EQ(d.bitmap(bitmapWith({0x7F, A, 0x29})), (Bytes{0x1E, 0x01, 0x52}));
}

TEST(BitmapReport, UsageWithoutKeyEmitsNothing) {
    Decoder d;
    EXPECT_EQ(d.bitmap(bitmapWith({0x31})), Bytes{});
    EXPECT_EQ(d.bitmap(bitmapWith({})), Bytes{});
}

TEST(Reports, WrongEndpointOrLengthIsIgnoredAndKeepsPreviousReport) {
    Decoder d;
    EXPECT_EQ(d.boot({0, 0, A, 0, 0, 0, 0, 0}), Bytes{0x1E});
    EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0}), Bytes{});  // 7 bytes
    EXPECT_EQ(d.feed(kBitmapEndpoint, {0, 0, 0, 0, 0, 0, 0, 0}), Bytes{});
    EXPECT_EQ(d.feed(0x83, {0, 0, 0, 0, 0, 0, 0, 0}), Bytes{});
    // The ignored reports did not overwrite the remembered "A down".
    EXPECT_EQ(d.boot({0, 0, A, 0, 0, 0, 0, 0}), Bytes{});
    EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, 0}), Bytes{0x9E});

    Decoder bm;
    EXPECT_EQ(bm.bitmap(bitmapWith({B})), Bytes{0x2E});
    EXPECT_EQ(bm.feed(kBitmapEndpoint, Bytes(15, 0)), Bytes{});
    EXPECT_EQ(bm.feed(kBootEndpoint, Bytes(16, 0)), Bytes{});
    EXPECT_EQ(bm.bitmap(bitmapWith({})), Bytes{0xAE});
}

TEST(Reports, EndpointsAreDecodedIndependently) {
    ReportBuffer boot, bitmap;
    ByteQueue q;
    const Bytes bootA{0, 0, A, 0, 0, 0, 0, 0};
    std::copy(bootA.begin(), bootA.end(), boot.current());
    decodeReport(kBootEndpoint, 8, boot, q);
    const Bytes bitmapA = bitmapWith({A});
    std::copy(bitmapA.begin(), bitmapA.end(), bitmap.current());
    decodeReport(kBitmapEndpoint, 16, bitmap, q);
    std::uint8_t out[8];
    ASSERT_EQ(q.read(out, sizeof out), 2u);
    EXPECT_EQ(out[0], 0x1E);
    EXPECT_EQ(out[1], 0x1E);
}

// The X68000 key for every HID usage that has one, grouped by key family.
const std::map<unsigned, std::uint8_t>& expectedCodes() {
    static const std::map<unsigned, std::uint8_t> codes = [] {
        std::map<unsigned, std::uint8_t> m;
        const char* letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
        const std::uint8_t letterCodes[] = {0x1E, 0x2E, 0x2C, 0x20, 0x13, 0x21, 0x22, 0x23, 0x18,
                                            0x24, 0x25, 0x26, 0x30, 0x2F, 0x19, 0x1A, 0x11, 0x14,
                                            0x1F, 0x15, 0x17, 0x2D, 0x12, 0x2B, 0x16, 0x2A};
        for (int i = 0; letters[i] != 0; ++i) {
            m[0x04u + static_cast<unsigned>(i)] = letterCodes[i];
        }
        for (unsigned i = 0; i < 10; ++i) {
            m[0x1E + i] = static_cast<std::uint8_t>(0x02 + i);  // 1..9, 0
        }
        const std::pair<unsigned, std::uint8_t> rest[] = {
            {0x28, 0x1D}, {0x29, 0x01}, {0x2A, 0x0F}, {0x2B, 0x10}, {0x2C, 0x35}, {0x2D, 0x0C},
            {0x2E, 0x0D}, {0x2F, 0x1B}, {0x30, 0x1C}, {0x32, 0x29}, {0x33, 0x27}, {0x34, 0x28},
            {0x35, 0x61}, {0x36, 0x31}, {0x37, 0x32}, {0x38, 0x33}, {0x39, 0x5D}, {0x3A, 0x63},
            {0x3B, 0x64}, {0x3C, 0x65}, {0x3D, 0x66}, {0x3E, 0x67}, {0x3F, 0x68}, {0x40, 0x69},
            {0x41, 0x6A}, {0x42, 0x6B}, {0x43, 0x6C}, {0x44, 0x72}, {0x45, 0x73}, {0x46, 0x5A},
            {0x47, 0x5B}, {0x48, 0x5C}, {0x49, 0x5E}, {0x4A, 0x36}, {0x4B, 0x38}, {0x4C, 0x37},
            {0x4D, 0x3A}, {0x4E, 0x39}, {0x4F, 0x3D}, {0x50, 0x3B}, {0x51, 0x3E}, {0x52, 0x3C},
            {0x53, 0x3F}, {0x54, 0x40}, {0x55, 0x41}, {0x56, 0x42}, {0x57, 0x46}, {0x58, 0x4E},
            {0x59, 0x4B}, {0x5A, 0x4C}, {0x5B, 0x4D}, {0x5C, 0x47}, {0x5D, 0x48}, {0x5E, 0x49},
            {0x5F, 0x43}, {0x60, 0x44}, {0x61, 0x45}, {0x62, 0x4F}, {0x63, 0x51}, {0x65, 0x62},
            {0x67, 0x4A}, {0x7F, 0x52}, {0x80, 0x54}, {0x81, 0x53}, {0x85, 0x50}, {0x87, 0x34},
            {0x88, 0x58}, {0x89, 0x0E}, {0x8A, 0x57}, {0x8B, 0x56}, {0xE0, 0x71}, {0xE1, 0x70},
            {0xE2, 0x55}, {0xE3, 0x5F}, {0xE4, 0x71}, {0xE5, 0x70}, {0xE6, 0x59}, {0xE7, 0x60},
        };
        for (const auto& [usage, code] : rest) {
            m[usage] = code;
        }
        return m;
    }();
    return codes;
}

TEST(ScanCodeTable, EveryUsageThroughTheBootSlots) {
    for (unsigned usage = 0; usage < 256; ++usage) {
        Decoder d;
        const auto it = expectedCodes().find(usage);
        const Bytes make = it == expectedCodes().end() || usage == 0 ? Bytes{} : Bytes{it->second};
        const Bytes brk = make.empty() ? Bytes{} : Bytes{breakOf(make[0])};
        EXPECT_EQ(d.boot({0, 0, static_cast<std::uint8_t>(usage), 0, 0, 0, 0, 0}), make)
            << "usage " << std::hex << usage;
        EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, 0}), brk) << "usage " << std::hex << usage;
    }
}

TEST(ScanCodeTable, EveryUsageThroughTheBitmap) {
    for (unsigned usage = 0; usage < 0x80; ++usage) {
        Decoder d;
        const auto it = expectedCodes().find(usage);
        const Bytes make = it == expectedCodes().end() ? Bytes{} : Bytes{it->second};
        EXPECT_EQ(d.bitmap(bitmapWith({usage})), make) << "usage " << std::hex << usage;
    }
    EXPECT_EQ(expectedCodes().size(), 114u);
}

TEST(ScanCodeTable, ModifierBitsMapToTheModifierUsages) {
    for (unsigned bit = 0; bit < 8; ++bit) {
        Decoder d;
        const std::uint8_t code = expectedCodes().at(0xE0 + bit);
        EXPECT_EQ(d.boot({static_cast<std::uint8_t>(1u << bit), 0, 0, 0, 0, 0, 0, 0}), Bytes{code});
    }
}

}  // namespace
