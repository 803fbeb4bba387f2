// Fuzzes the host command interpreter with any byte stream the host may send,
// split into serial reads of any size, taken through the relay's own queue.
//
// Each pass does what KeyRelay::pollHost does: push what the port delivered
// (if anything) as one chunk onto a ByteQueue, take one byte from the queue and
// apply it with applyHostCommand; a change of the LED state would send the LED
// report. (pollHost itself needs an open port and a libusb device for the
// report, so its three steps are repeated here around the real queue and the
// real interpreter.)
//
// Input: steps, each one header byte h:
//   h & 0x80: c = next byte; c + 1 passes that read nothing (the backlog is
//             worked off);
//   else:     n = h & 0x3F bytes follow, the data of one read (n = 0: nothing
//             read); with h & 0x40, r = next byte and the same read comes on
//             r * 4 + 1 passes in a row (five such steps of long reads bring
//             the queue to its bound of ByteQueue::kMaxChunks waiting chunks,
//             where it drops the oldest).
// An input ends after kMaxPasses passes, which is past the bound yet keeps every
// input quick.
//
// Checked against a model that knows only the command table and the queue's
// contract (a FIFO of chunks that drops its oldest waiting chunk when full):
// - each pass interprets the byte the model says is next, or none;
// - an LED report is asked for exactly when the mask or the brightness changed,
//   and the stored mask and brightness are the model's;
// - the repeat delay and interval are always among their 16 values, and are the
//   values of the last delay and interval command;
// - a command never touches the repeat itself (the key and its due time).
// A failed check prints why and aborts, so libFuzzer keeps the input.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "fuzz_input.h"
#include "protocol/host_commands.h"
#include "io/byte_queue.h"

namespace {

constexpr int kMaxPasses = 6000;

[[noreturn]] void fail(const char* what, int byte) {
    failInvariant("host command", what, "byte", byte);
}

// 200 + 100 n ms and 30 + 5 n^2 ms, n = 0..15, written out.
constexpr std::array<std::int32_t, 16> kDelays = {200,  300,  400,  500,  600,  700,  800,  900,
                                                  1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700};
constexpr std::array<std::int32_t, 16> kIntervals = {30,  35,  50,  75,  110, 155, 210,  275,
                                                     350, 435, 530, 635, 750, 875, 1010, 1155};

bool among(const std::array<std::int32_t, 16>& values, std::int32_t v) {
    return std::find(values.begin(), values.end(), v) != values.end();
}

// What the host's bytes must do, from the command table alone.
struct Model {
    std::int32_t brightness = 0;
    std::int32_t mask = 0;
    std::int32_t delay = 500;
    std::int32_t interval = 110;

    // Returns whether the LED report must go out.
    bool apply(std::uint8_t b) {
        if (b >= 0x54 && b <= 0x57) {
            const bool changed = brightness != (b - 0x54);
            brightness = b - 0x54;
            return changed;
        }
        if (b >= 0x60 && b <= 0x6F) {
            delay = kDelays[b - 0x60];
        } else if (b >= 0x70 && b <= 0x7F) {
            interval = kIntervals[b - 0x70];
        } else if (b >= 0x80) {
            std::int32_t lit = 0;
            for (int led = 0; led < 7; ++led) {
                if (((b >> led) & 1) == 0) {
                    lit |= 1 << led;  // a clear bit lights the LED
                }
            }
            const bool changed = mask != lit;
            mask = lit;
            return changed;
        }
        return false;
    }
};

// The queue's contract: chunks in order, the oldest waiting chunk dropped when
// kMaxChunks are waiting; the chunk being read out is not waiting.
struct QueueModel {
    std::deque<std::vector<std::uint8_t>> waiting;
    std::vector<std::uint8_t> reading;
    std::size_t readPos = 0;

    void push(const std::vector<std::uint8_t>& chunk) {
        if (waiting.size() >= ByteQueue::kMaxChunks) {
            waiting.pop_front();
        }
        waiting.push_back(chunk);
    }
    int next() {
        while (readPos == reading.size()) {
            if (waiting.empty()) {
                return -1;
            }
            reading = std::move(waiting.front());
            waiting.pop_front();
            readPos = 0;
        }
        return reading[readPos++];
    }
};

class Interpreter {
public:
    Interpreter() { repeat = {0x1E, 12345, 500, 110}; }  // a key repeating, defaults

    void pass(const std::vector<std::uint8_t>& read) {
        if (!read.empty()) {
            queue.push(read.data(), read.data() + read.size());
            queueModel.push(read);
            if (queue.chunkCount() != queueModel.waiting.size()) {
                fail("queue holds another number of chunks than pushed and kept", read[0]);
            }
        }
        std::uint8_t byte = 0;
        const bool got = queue.read(&byte, 1) == 1;
        const int expected = queueModel.next();
        if (got != (expected >= 0) || (got && byte != expected)) {
            fail("queue handed out another byte than was next", got ? byte : -1);
        }
        if (!got) {
            return;
        }
        const bool sendLeds = applyHostCommand(byte, repeat, leds);
        if (sendLeds != model.apply(byte)) {
            fail(sendLeds ? "LED report without a change" : "LED change without a report", byte);
        }
        if (leds.ledMask != model.mask || leds.ledBrightness != model.brightness) {
            fail("LED state differs from the commands", byte);
        }
        if (!among(kDelays, repeat.repeatDelayMs) || !among(kIntervals, repeat.repeatIntervalMs)) {
            fail("repeat delay or interval outside its 16 values", byte);
        }
        if (repeat.repeatDelayMs != model.delay || repeat.repeatIntervalMs != model.interval) {
            fail("repeat delay or interval differs from the commands", byte);
        }
        if (repeat.repeatCode != 0x1E || repeat.repeatDue != 12345) {
            fail("command touched the repeating key", byte);
        }
    }

private:
    ByteQueue queue;
    QueueModel queueModel;
    RepeatState repeat;
    LedState leds;
    Model model;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Interpreter interpreter;
    FuzzInput input(data, size);
    const std::vector<std::uint8_t> nothing;
    int passes = 0;

    while (!input.atEnd() && passes < kMaxPasses) {
        const std::uint8_t header = input.take();
        if ((header & 0x80) != 0) {
            for (int i = input.take() + 1; i > 0 && passes < kMaxPasses; --i, ++passes) {
                interpreter.pass(nothing);
            }
            continue;
        }
        std::vector<std::uint8_t> read(header & 0x3Fu);
        for (std::uint8_t& b : read) {
            b = input.take();
        }
        const int times = (header & 0x40) != 0 ? input.take() * 4 + 1 : 1;
        for (int i = times; i > 0 && passes < kMaxPasses; --i, ++passes) {
            interpreter.pass(read);
        }
    }
    return 0;
}
