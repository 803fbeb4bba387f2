// A tick source the test sets by hand. It also counts how often the code under
// test read it: the relay's worker reads the clock once a pass, so a count
// taken before some event and exceeded after it shows that a pass has run
// since. (A worker sleeps until something wakes it: a test that moves the
// clock must wake it too.)
#pragma once

#include <atomic>
#include <cstdint>

#include "io/ticks.h"

class ManualClock {
public:
    explicit ManualClock(std::uint32_t start = 100000) : now(start) {}

    TickSource source() {
        return [this] {
            ++reads;
            return now.load();
        };
    }
    void set(std::uint32_t t) { now = t; }
    std::uint32_t get() const { return now.load(); }
    int readCount() const { return reads.load(); }

private:
    std::atomic<std::uint32_t> now;
    std::atomic<int> reads{0};
};
