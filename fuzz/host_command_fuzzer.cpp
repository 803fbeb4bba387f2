// Fuzzes the host command interpreter with any byte stream the host may send,
// split into serial reads of any size, taken through the relay's own queue.
//
// Each pass does what KeyRelay::pollHost does: push what the port delivered
// (if anything) onto a ByteQueue, then take every waiting byte from the queue
// in order and apply it with applyHostCommand; a change of the LED state would
// send the LED report. (pollHost itself needs an open port and a libusb device
// for the report, so its steps are repeated here around the real queue and the
// real interpreter.)
//
// Input: steps, each one header byte h, n = h & 0x3F bytes of one read after
// it (n = 0: nothing read); with h & 0x40, r = next byte and the same read
// comes r * 4 + 1 times before the worker gets to the queue (as while an LED
// report keeps it busy), enough to pass the queue's bound of
// ByteQueue::kCapacity bytes, where it drops the oldest. h & 0x80 is ignored.
// An input ends after kMaxPasses passes, which keeps every input quick.
//
// Checked against a model that knows only the command table and the queue's
// contract (a FIFO of bytes that drops its oldest bytes when full):
// - each byte interpreted is the one the model says is next, and the queue
//   runs dry exactly when the model's does;
// - an LED report is asked for exactly when the mask or the brightness changed,
//   and the stored mask and brightness are the model's;
// - the repeat delay and interval are always among their 16 values, and are the
//   values of the last delay and interval command;
// - a command never touches the repeat itself (the key and its due time);
// - the MSCTRL line is the level of the last 0x40 or 0x41 (unknown before
//   either), and its falls are the 0x40s that came while it was high.
// A failed check prints why and aborts, so libFuzzer keeps the input.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "fuzz_input.h"
#include "io/byte_queue.h"
#include "protocol/host_commands.h"

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
    int msctrl = -1;  // -1 unknown, else the line's level
    std::uint32_t falls = 0;

    // Returns whether the LED report must go out.
    bool apply(std::uint8_t b) {
        if (b == 0x40 || b == 0x41) {
            falls += msctrl == 1 && b == 0x40 ? 1 : 0;
            msctrl = b & 1;
            return false;
        }
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

// The queue's contract: bytes in order, the oldest dropped beyond kCapacity.
struct QueueModel {
    std::deque<std::uint8_t> waiting;

    void push(const std::vector<std::uint8_t>& read) {
        waiting.insert(waiting.end(), read.begin(), read.end());
        while (waiting.size() > ByteQueue::kCapacity) {
            waiting.pop_front();
        }
    }
    int next() {
        if (waiting.empty()) {
            return -1;
        }
        const int b = waiting.front();
        waiting.pop_front();
        return b;
    }
};

class Interpreter {
public:
    Interpreter() { repeat = {0x1E, 12345, 500, 110}; }  // a key repeating, defaults

    void arrive(const std::vector<std::uint8_t>& read) {
        queue.push(read.data(), read.data() + read.size());
        queueModel.push(read);
        if (queue.size() != queueModel.waiting.size()) {
            fail("queue holds another number of bytes than pushed and kept", read[0]);
        }
    }

    // Interprets everything waiting, in order.
    void drain() {
        for (;;) {
            std::uint8_t byte = 0;
            const bool got = queue.read(&byte, 1) == 1;
            const int expected = queueModel.next();
            if (got != (expected >= 0) || (got && byte != expected)) {
                fail("queue handed out another byte than was next", got ? byte : -1);
            }
            if (!got) {
                return;
            }
            check(byte);
        }
    }

private:
    void check(std::uint8_t byte) {
        const bool sendLeds = applyHostCommand(byte, repeat, leds, msctrl);
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
        const int level = msctrl.level == MsctrlState::Level::Unknown ? -1
                          : msctrl.level == MsctrlState::Level::High  ? 1
                                                                      : 0;
        if (level != model.msctrl || msctrl.falls != model.falls) {
            fail("MSCTRL line or its falls differ from the commands", byte);
        }
    }

    ByteQueue queue;
    QueueModel queueModel;
    RepeatState repeat;
    LedState leds;
    MsctrlState msctrl;
    Model model;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Interpreter interpreter;
    FuzzInput input(data, size);
    int passes = 0;

    while (!input.atEnd() && passes < kMaxPasses) {
        const std::uint8_t header = input.take();
        std::vector<std::uint8_t> read(header & 0x3Fu);
        for (std::uint8_t& b : read) {
            b = input.take();
        }
        const int times = (header & 0x40) != 0 ? input.take() * 4 + 1 : 1;
        for (int i = times; i > 0 && !read.empty(); --i) {
            interpreter.arrive(read);
        }
        interpreter.drain();
        ++passes;
    }
    return 0;
}
