// A real pseudo-terminal standing in for the host's end of the serial line: the
// code under test opens slavePath() like any tty, the test reads and writes the
// master. Reads wait on poll() up to a deadline so a broken relay fails a test
// instead of hanging it.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

class PtyPair {
public:
    // Throws std::runtime_error when no pty can be made. With linkOutsideDev the
    // slave is also reachable through a symlink in a fresh temporary directory:
    // under the umockdev preload, ioctls on /dev nodes go to the emulator, so
    // code under test that needs real tty ioctls must open the link instead.
    explicit PtyPair(bool linkOutsideDev = false);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slave; }
    // What the code under test should open: the link when there is one.
    const std::string& portPath() const { return link.empty() ? slave : link; }
    int masterFd() const { return master; }

    void write(const std::vector<std::uint8_t>& bytes);

    // Reads until n bytes have come or the time-out passes; returns what came.
    std::vector<std::uint8_t> read(std::size_t n,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Reads until `sentinel` arrives; returns the bytes before it. Writers send
    // the sentinel after the bytes under test, which proves that nothing else
    // was written in between without waiting for an arbitrary quiet time.
    std::vector<std::uint8_t> readUntil(
        std::uint8_t sentinel, std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Appends to out whatever the master can read right now; never waits.
    void readReady(std::vector<std::uint8_t>& out);

    // Every byte written to the line that has not been read yet. Call it once
    // the code under test can write no more (it closed the slave): a marker
    // byte written through the slave lands behind all of its bytes, so reading
    // up to it proves there is nothing more, without waiting for a quiet time.
    // The marker is 0x00, which the relay never sends.
    std::vector<std::uint8_t> restOfLine();

    // Hangs the line up, as a removed USB serial adapter does.
    void closeMaster();

    // Points path (a symlink, replaced in one step if it exists) at this pty's
    // slave: a new adapter appearing under the name an old one had.
    void linkAs(const std::string& path);

private:
    int master = -1;
    std::string slave;
    std::optional<TempDir> linkDir;  // holds the link; removed with it
    std::string link;
};

// Whether this process holds an open file descriptor on path (read from /proc/self/fd).
bool processHasOpen(const std::string& path);

// Polls cond until it holds or the time-out passes; returns its last value.
template <typename Cond>
bool waitFor(Cond cond, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return cond();
        }
        struct timespec ts {
            0, 1000000
        };
        nanosleep(&ts, nullptr);
    }
    return true;
}
