#include "keyboard/report_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "keyboard/scan_code_table.h"
#include "support/expected_scan_codes.h"

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

TEST(ScanCodeTable, EveryUsageThroughTheBootSlots) {
    for (unsigned usage = 0; usage < 256; ++usage) {
        Decoder d;
        const auto it = expectedScanCodes().find(usage);
        const Bytes make =
            it == expectedScanCodes().end() || usage == 0 ? Bytes{} : Bytes{it->second};
        const Bytes brk = make.empty() ? Bytes{} : Bytes{breakOf(make[0])};
        EXPECT_EQ(d.boot({0, 0, static_cast<std::uint8_t>(usage), 0, 0, 0, 0, 0}), make)
            << "usage " << std::hex << usage;
        EXPECT_EQ(d.boot({0, 0, 0, 0, 0, 0, 0, 0}), brk) << "usage " << std::hex << usage;
    }
}

TEST(ScanCodeTable, EveryUsageThroughTheBitmap) {
    for (unsigned usage = 0; usage < 0x80; ++usage) {
        Decoder d;
        const auto it = expectedScanCodes().find(usage);
        const Bytes make = it == expectedScanCodes().end() ? Bytes{} : Bytes{it->second};
        EXPECT_EQ(d.bitmap(bitmapWith({usage})), make) << "usage " << std::hex << usage;
    }
    EXPECT_EQ(expectedScanCodes().size(), 114u);
}

TEST(ScanCodeTable, ModifierBitsMapToTheModifierUsages) {
    for (unsigned bit = 0; bit < 8; ++bit) {
        Decoder d;
        const std::uint8_t code = expectedScanCodes().at(0xE0 + bit);
        EXPECT_EQ(d.boot({static_cast<std::uint8_t>(1u << bit), 0, 0, 0, 0, 0, 0, 0}), Bytes{code});
    }
}

}  // namespace
