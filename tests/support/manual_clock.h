// A tick source the test sets by hand. It also counts how often the code under
// test read it: the relay reads the clock once per worker pass while the
// keyboard is active, so the count tells a test how many passes have run.
#pragma once

#include <atomic>
#include <cstdint>

#include "io/ticks.h"
#include "support/pty_pair.h"

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

    // Waits until the clock has been read n more times (n more passes).
    bool waitPasses(int n) {
        const int target = reads.load() + n;
        return waitFor([&] { return reads.load() >= target; });
    }

private:
    std::atomic<std::uint32_t> now;
    std::atomic<int> reads{0};
};
