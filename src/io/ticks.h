// The relay's sense of time: a wrapping 32-bit millisecond tick counter. One
// back-end per platform (ticks_posix.cpp, ticks_win32.cpp); everything else sees
// only these declarations.
#pragma once

#include <cstdint>
#include <functional>

// A millisecond counter that wraps at 2^32. Due times are compared on the signed
// difference, so callers survive the wrap. Tests inject their own (for example
// one that starts just before the wrap); the relay calls it on its worker only.
using TickSource = std::function<std::uint32_t()>;

// The platform's monotonic millisecond counter reduced to 32 bits.
std::uint32_t systemTickMs();

// Milliseconds from now until due, 0 when it has passed (wrap-safe).
inline int msUntil(std::uint32_t due, std::uint32_t now) {
    const auto left = static_cast<std::int32_t>(due - now);
    return left > 0 ? left : 0;
}

// The shorter of two waits in milliseconds, -1 meaning none.
inline int soonerWait(int a, int b) {
    if (a < 0) {
        return b;
    }
    return b < 0 || a < b ? a : b;
}
