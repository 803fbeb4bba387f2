// The wait of the emulated devices' tests (EmulatedKeyboard,
// EmulatedInputDevice): an emulator counts its changes under its mutex and
// tells them on a condition variable; a wait asks its condition again at every
// change and at least every few milliseconds, since umockdev tells of no close
// and a condition may watch things outside the emulator (a callback's flag).
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// Asks cond, without the mutex held, until it holds (true) or the time-out
// passes (false). changes is the emulator's count, read under mutex.
inline bool waitForChange(std::mutex& mutex, std::condition_variable& changed,
                          const std::uint64_t& changes, const std::function<bool()>& cond,
                          std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kSlice = std::chrono::milliseconds(5);
    const auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex);
    for (;;) {
        const std::uint64_t seen = changes;
        lock.unlock();
        const bool done = cond();
        lock.lock();
        if (done) {
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            return false;
        }
        changed.wait_until(lock, std::min(deadline, now + kSlice), [&] { return changes != seen; });
    }
}
