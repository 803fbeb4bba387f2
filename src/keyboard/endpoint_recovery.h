// EndpointRecovery: what to do after a transfer on one of the keyboard's
// interrupt endpoints ended without a report, so that a dirty fault neither
// spins the relay nor leaves the endpoint dead.
//
// A halted endpoint (the device answered STALL) fails every transfer until the
// host clears the halt, so the halt is cleared before the next submission; an
// endpoint that halts again at once, three times within a second, is a
// keyboard that no longer works. Other failures (a protocol error from a bad
// cable or a noisy hub, a time-out, an overflow) are submitted again after a
// growing pause, 13, 26, 52, then 104 ms, as Linux's own HID driver does; a
// second of nothing but failures is a keyboard that no longer works. A report
// that arrives ends the trouble.
//
// One per endpoint, owned by UsbKeyboard and used on the thread that handles
// its events. Times are ticks of the relay's wrapping millisecond counter.
#pragma once

#include <cstdint>

class EndpointRecovery {
public:
    enum class Next {
        ClearHaltThenSubmit,  // clear the halt, then submit at once
        SubmitLater,          // submit at submitDue()
        GiveUp,               // the keyboard is lost
    };

    static constexpr std::uint32_t kTroubleWindowMs = 1000;
    static constexpr int kHaltsBeforeGivingUp = 3;
    static constexpr std::uint32_t kFirstPauseMs = 13;
    static constexpr std::uint32_t kLongestPauseMs = 104;

    // A report arrived: the endpoint works.
    void succeeded() { *this = {}; }
    // The transfer ended with a stall at tick now.
    Next halted(std::uint32_t now);
    // The transfer ended with another failure at tick now.
    Next failed(std::uint32_t now);
    // When a SubmitLater is due.
    std::uint32_t submitDue() const { return due; }

private:
    int halts = 0;  // in the window that began at haltingSince
    std::uint32_t haltingSince = 0;
    int failures = 0;  // in a row, since failingSince
    std::uint32_t failingSince = 0;
    std::uint32_t due = 0;
};
