// RetrySchedule: when the relay's worker next tries to open a device that is
// not open (the keyboard, the mouse). The same rules for each:
//   - at the worker's start, a missing device is tried at once (tryNow);
//   - absent, where its back-end tells of arrivals: no timer, the arrival
//     prompts the try (or a safety look now and then); where it cannot tell,
//     a try every lookMs (absent);
//   - listed by the system but not to be opened yet (Windows lists a device
//     plugged in before it has given its interfaces their driver): tried
//     after retryMs, kListedTries times in a row, before it counts as absent
//     (absent with listed);
//   - present but refused (another program holds it, no permission): a pause
//     that doubles from retryMs up to maxMs, since nothing tells when it stops
//     being refused and each try disturbs it (refused);
//   - lost while open: one try after retryMs in any case, since a device lost
//     to errors is still plugged in and will not arrive again (lost).
//
// A plain value of its owner's (KeyRelay, MouseRelay), used by the worker.
#pragma once

#include <cstdint>

class RetrySchedule {
public:
    RetrySchedule(std::uint32_t retryMs, std::uint32_t maxMs)
        : retryMs(retryMs), maxMs(maxMs), pauseMs(retryMs) {}

    // It opened: nothing to try, and the next refusal pauses retryMs again.
    void opened();
    // Due at now (the worker's start); nothing when wanted is false.
    void tryNow(std::uint32_t now, bool wanted);
    // How many times in a row a device listed but not yet to be opened is
    // tried after retryMs; lookMs after that.
    static constexpr int kListedTries = 5;

    // Not there: tried at now + lookMs, or, where untimed, only when its
    // arrival is told. listed: the system lists it all the same; the first
    // kListedTries such answers in a row are tried again after retryMs.
    void absent(std::uint32_t now, bool timed, std::uint32_t lookMs, bool listed = false);
    // Refused: tried after the pause, which then doubles.
    void refused(std::uint32_t now);
    // Lost while open: tried once after retryMs.
    void lost(std::uint32_t now);

    bool due(std::uint32_t now) const;
    // Milliseconds until the try (0: due), -1 for none.
    int msUntilDue(std::uint32_t now) const;

private:
    const std::uint32_t retryMs;
    const std::uint32_t maxMs;
    bool pending = false;
    std::uint32_t dueAt = 0;
    std::uint32_t pauseMs;  // before the next try of a refused device
    int listedTries = 0;    // absent but listed, in a row
};
