// The soak tests' model must itself be right: one byte per change, packed boot
// slots, and a stream check that refuses every kind of wrong line.
#include "typing_model.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(TypingModel, EveryChangeIsOneKeyAndEveryKeyIsLetGoAtTheEnd) {
    RandomTyping typing(7);
    int heldBoot = 0, heldBitmap = 0;
    std::set<std::uint8_t> hostHolds;  // as the bytes sent tell it
    int shared = 0;                    // changes the host hears nothing of
    for (int i = 0; i < 2000; ++i) {
        const KeyChange c = typing.next();
        ASSERT_EQ(c.report.size(), c.endpoint == 0x81 ? 8u : 16u);
        int& held = c.endpoint == 0x81 ? heldBoot : heldBitmap;
        held += (c.scanCode & 0x80) != 0 ? -1 : 1;
        ASSERT_GE(held, 0);
        // The host hears a key go down only when it was up, and up only when
        // it was down: one byte or none, and none only for a key held twice.
        if (c.sent == 0) {
            ++shared;
            EXPECT_TRUE(hostHolds.count(c.scanCode & 0x7F)) << int(c.scanCode);
        } else if ((c.sent & 0x80) == 0) {
            EXPECT_TRUE(hostHolds.insert(c.sent).second);
        } else {
            EXPECT_EQ(hostHolds.erase(c.sent & 0x7F), 1u);
        }
        EXPECT_NE(c.scanCode & 0x7F, RandomTyping::kMarkerCode);
        if (c.endpoint == 0x81) {  // slots packed from the first, no key twice
            const auto slots = Bytes(c.report.begin() + 2, c.report.end());
            const auto firstEmpty = std::find(slots.begin(), slots.end(), 0);
            EXPECT_TRUE(std::all_of(firstEmpty, slots.end(), [](auto u) { return u == 0; }));
            EXPECT_EQ(std::set<std::uint8_t>(slots.begin(), firstEmpty).size(),
                      static_cast<std::size_t>(firstEmpty - slots.begin()));
        }
    }
    EXPECT_GT(shared, 0) << "no key was ever held twice: the model never tries the count";
    for (const KeyChange& c : typing.releaseAll()) {
        EXPECT_NE(c.scanCode & 0x80, 0);
        (c.endpoint == 0x81 ? heldBoot : heldBitmap) -= 1;
        if (c.sent != 0) {
            hostHolds.erase(c.sent & 0x7F);
        }
    }
    EXPECT_TRUE(hostHolds.empty());
    EXPECT_EQ(heldBoot, 0);
    EXPECT_EQ(heldBitmap, 0);
}

TEST(StreamCheck, RepeatsOfTheLastMadeKeyAreAllowedAnywhereAfterItsMake) {
    // A made, B made, A let go (B goes on repeating), B let go.
    const Bytes expected = {0x1E, 0x2E, 0x9E, 0xAE};
    const auto v = compareWithRepeats(expected, {0x1E, 0x1E, 0x2E, 0x2E, 0x9E, 0x2E, 0xAE}, true);
    EXPECT_TRUE(v.ok) << v.why;
    EXPECT_EQ(v.repeats, 3u);
    EXPECT_TRUE(compareWithRepeats(expected, expected, false).ok);
}

TEST(StreamCheck, RefusesLostExtraReorderedAndWrongRepeats) {
    const Bytes expected = {0x1E, 0x2E, 0x9E, 0xAE};
    EXPECT_FALSE(compareWithRepeats(expected, {0x1E, 0x2E, 0x9E}, true).ok);              // lost
    EXPECT_FALSE(compareWithRepeats(expected, {0x1E, 0x2E, 0x9E, 0xAE, 0xAE}, true).ok);  // doubled
    EXPECT_FALSE(compareWithRepeats(expected, {0x2E, 0x1E, 0x9E, 0xAE}, true).ok);  // reordered
    EXPECT_FALSE(compareWithRepeats(expected, {0x1E, 0x2E, 0x1E, 0x9E, 0xAE}, true)
                     .ok);  // A no longer repeats
    EXPECT_FALSE(
        compareWithRepeats(expected, {0x1E, 0x2E, 0x9E, 0xAE, 0x2E}, true).ok);  // B let go
    EXPECT_FALSE(
        compareWithRepeats(expected, {0x1E, 0x1E, 0x2E, 0x9E, 0xAE}, false).ok);  // no repeats
}

}  // namespace
