// What both fuzzers share: reading their input as a stream of bytes that turns
// into zeros once it runs out, and stopping at a broken invariant in a way
// libFuzzer keeps the input for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The fuzzer's input, read front to back.
class FuzzInput {
public:
    FuzzInput(const std::uint8_t* bytes, std::size_t count) : data(bytes), size(count) {}

    bool atEnd() const { return pos >= size; }
    // The next byte, or 0 once the input is used up.
    std::uint8_t take() { return pos < size ? data[pos++] : 0; }

private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

// Prints "SUBJECT invariant broken: WHAT (LABEL 0xVALUE)" (the bracket only for
// a value >= 0) and aborts, which libFuzzer reports as a crash with its input.
[[noreturn]] inline void failInvariant(const char* subject, const char* what, const char* label,
                                       int value) {
    std::fprintf(stderr, "%s invariant broken: %s", subject, what);
    if (value >= 0) {
        std::fprintf(stderr, " (%s 0x%02X)", label, value);
    }
    std::fprintf(stderr, "\n");
    std::abort();
}
