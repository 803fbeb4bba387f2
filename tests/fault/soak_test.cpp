// Soak: random typing on both endpoints at about 30 key changes a second, from
// the emulated keyboard through real libusb and the worker to a real pty, for
// PELLORA_SOAK_SECONDS (default 20) per test. The host must receive exactly the
// bytes the typing calls for: none lost, doubled or out of order, and, when the
// clock runs, auto-repeats only of the key that may repeat at that point. The
// resident memory must not grow once warmed up.
//
// Each change is one report, sent once the previous one was handed to libusb,
// so the order across the two endpoints is fixed. Typing is paced to the rate
// by sleeping: the rate is what is under test here, not a wait for an event.
// Reproduce a run with PELLORA_SOAK_SEED (each run prints its seed).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "process_probe.h"
#include "typing_model.h"
#include "usb/relay_fixture.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PELLORA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PELLORA_SANITIZED 1
#endif
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr auto kChangeEvery = std::chrono::milliseconds(33);
constexpr auto kWarmUp = std::chrono::seconds(2);
// Growth of the resident set allowed from the end of the warm-up to the end of
// the run, in the plain build, beyond what the test bed itself keeps: the
// emulated keyboard records every report it hands over (for latency figures),
// and a growing vector may hold twice that. Sanitizer runtimes keep freed
// memory on purpose (ASan's quarantine), so there the figures are printed but
// not judged.
constexpr std::size_t kRssGrowthKiB = 1024;

// What the test bed's own record of deliveries takes, in bytes.
std::size_t deliveryRecordBytes(const EmulatedKeyboard& kb) {
    return kb.deliveries().size() * sizeof(EmulatedKeyboard::Delivery);
}

long fromEnv(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtol(value, nullptr, 10) : fallback;
}

class Soak : public RelayOnEmulatedKeyboard {
protected:
    // Host command bytes, then an LED command whose report proves they were taken.
    void hostSends(Bytes commands) {
        commands.push_back(0xFE);  // LED 0 lit: a change from the start
        pty.write(commands);
        ASSERT_TRUE(kb.waitForControlRequests(1));
    }

    // Sends one change and returns once the worker has taken it; the clock
    // moves only after that.
    void send(const KeyChange& change) { sendAndWaitForItsPass(change.endpoint, change.report); }

    // Types for the soak's time; with clockJumps, the relay's clock moves on with
    // each change and now and then leaps far enough for the held key to repeat.
    void type(bool clockJumps) {
        const auto seconds = std::chrono::seconds(fromEnv("PELLORA_SOAK_SECONDS", 20));
        const auto seed = static_cast<std::uint32_t>(
            fromEnv("PELLORA_SOAK_SEED", static_cast<long>(std::random_device{}() & 0x7FFFFFFF)));
        std::printf("soak seed %u (PELLORA_SOAK_SEED to repeat)\n", seed);
        RandomTyping typing(seed);
        std::mt19937 jumps(seed);
        Bytes expected, received;
        // Room enough up front, so the test's own buffers do not grow meanwhile.
        expected.reserve(static_cast<std::size_t>(seconds.count()) * 64 + 256);
        received.reserve(expected.capacity() * 8);
        std::size_t warmKiB = 0;
        [[maybe_unused]] std::size_t warmHeap = 0, warmRecords = 0;

        const auto start = Clock::now();
        auto due = start;
        while (Clock::now() - start < seconds) {
            const KeyChange change = typing.next();
            if (change.sent != 0) {
                expected.push_back(change.sent);
            }
            send(change);
            if (HasFatalFailure()) {
                return;
            }
            // Time passes between changes, so the worker's passes see it before
            // the next change restarts or moves the repeat.
            if (clockJumps) {
                const bool leap = jumps() % 10 == 0;
                advanceClockTo(clock.get() + (leap ? 200 + jumps() % 400 : jumps() % 40));
            }
            pty.readReady(received);
            if (warmKiB == 0 && Clock::now() - start >= kWarmUp) {
                warmKiB = residentKiB();
                warmHeap = heapInUseBytes();
                warmRecords = deliveryRecordBytes(kb);
            }
            due += kChangeEvery;
            std::this_thread::sleep_until(due);
        }
        for (const KeyChange& change : typing.releaseAll()) {
            if (change.sent != 0) {
                expected.push_back(change.sent);
            }
            send(change);
        }
        // The marker key, pressed and let go: its break ends the stream.
        kb.sendReport(EmulatedKeyboard::kBootEndpoint,
                      {0, 0, RandomTyping::kMarkerUsage, 0, 0, 0, 0, 0});
        kb.sendReport(EmulatedKeyboard::kBootEndpoint, Bytes(8, 0));
        expected.push_back(RandomTyping::kMarkerCode);
        const Bytes rest =
            pty.readUntil(RandomTyping::kMarkerCode | 0x80, std::chrono::seconds(30));
        received.insert(received.end(), rest.begin(), rest.end());
        const std::size_t endKiB = residentKiB();

        const StreamVerdict verdict = compareWithRepeats(expected, received, clockJumps);
        EXPECT_TRUE(verdict.ok) << verdict.why << " (seed " << seed << ")";
        if (clockJumps) {
            EXPECT_GT(verdict.repeats, 0u) << "the clock's leaps never made a key repeat";
        }
        std::printf(
            "soak: %zu key changes in %lld s, %zu bytes received (%zu repeats), "
            "RSS %zu KiB after warm-up, %zu KiB at the end\n",
            expected.size(), static_cast<long long>(seconds.count()), received.size() + 1,
            verdict.repeats, warmKiB, endKiB);
        RecordProperty("bytes", static_cast<int>(received.size() + 1));
        RecordProperty("rss_warm_kib", static_cast<int>(warmKiB));
        RecordProperty("rss_end_kib", static_cast<int>(endKiB));
#ifndef PELLORA_SANITIZED  // their allocators keep freed memory and leave mallinfo2 empty
        const long heapGrowth = static_cast<long>(heapInUseBytes()) - static_cast<long>(warmHeap);
        const std::size_t recordGrowth = deliveryRecordBytes(kb) - warmRecords;
        std::printf("soak: heap in use %+ld B, of which the emulator's delivery record %zu B\n",
                    heapGrowth, recordGrowth);
        if (warmKiB != 0) {
            EXPECT_LE(endKiB, warmKiB + kRssGrowthKiB + 2 * recordGrowth / 1024)
                << "resident memory grew";
        }
#endif
    }
};

TEST_F(Soak, FrozenClockEveryChangeArrivesExactlyOnce) {
    type(false);  // the clock never moves, so nothing repeats
}

TEST_F(Soak, RunningClockRepeatsOnlyTheKeyThatMayRepeat) {
    hostSends({0x60, 0x70});  // delay 200 ms, interval 30 ms
    type(true);
}

}  // namespace
