// Fuzzes decodeReport with any sequence of completed transfers on any endpoint,
// of any length and content, the way onTransferComplete hands them over, and
// checks what the host would be told against a model of which keys are held.
//
// Input: records, each one header byte h, then its bytes:
//   bit 0  endpoint 0x82 (bitmap) when set, else 0x81 (boot)
//   bit 1  a length byte follows (0-255, the transfer's actual length);
//          clear: the endpoint's own length (8 or 16)
//   bit 2  an endpoint byte follows and replaces the one of bit 0
//   then min(length, 16) report bytes (zeros once the input runs out): libusb
//   never writes more than the 16-byte transfer buffer holds.
// After the last record, an all-zero report of the right length goes to each
// endpoint: the keyboard with every key let go.
//
// Checked, per endpoint (the endpoints are decoded independently):
// - every byte's key code is the code of a usage that endpoint can report;
// - the host's view equals the keyboard's: after each report, the number of
//   makes minus breaks of each code equals the number of keys now down that have
//   that code. Keys down are the modifier bits plus the distinct usages in the
//   six slots (a boot report's slots form a set), or the bits of the bitmap.
//   Codes are counted, not flagged, because left and right Shift share 0x70,
//   left and right Ctrl 0x71, and a modifier usage may also sit in a slot: two
//   makes of 0x70 and then one break is right while one side is still down. So
//   a break never comes without a make before it, yet a code can be made twice;
// - a report of another endpoint or length emits nothing and changes nothing;
// - once the zero reports are in, every key made has been broken.
// A failed check prints why and aborts, so libFuzzer keeps the input.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "keyboard/report_decoder.h"
#include "keyboard/scan_code_table.h"
#include "protocol/scan_code.h"

namespace {

constexpr int kCodes = 128;
using CodeCounts = std::array<int, kCodes>;

[[noreturn]] void fail(const char* what, int code = -1) {
    failInvariant("report decoder", what, "code", code);
}

// Which key codes each endpoint can produce: the boot report reaches every
// usage (slots hold any byte), the bitmap only usages 0x00-0x7F.
struct Reachable {
    std::array<bool, kCodes> boot{};
    std::array<bool, kCodes> bitmap{};
    Reachable() {
        for (unsigned usage = 0; usage < 256; ++usage) {
            const std::uint8_t code = kScanCodeTable[usage];
            if (code != 0) {
                boot[keyCodeOf(code)] = true;
                bitmap[keyCodeOf(code)] = bitmap[keyCodeOf(code)] || usage < 0x80;
            }
        }
    }
};
const Reachable kReachable;

// How many keys of each code a report says are down.
CodeCounts heldBy(std::uint8_t endpoint, const std::uint8_t* report) {
    CodeCounts held{};
    auto hold = [&](unsigned usage) {
        const std::uint8_t code = kScanCodeTable[usage];
        if (code != 0) {
            ++held[keyCodeOf(code)];
        }
    };
    if (endpoint == kBootEndpoint) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((report[0] >> bit) & 1u) {
                hold(0xE0 + bit);
            }
        }
        std::array<bool, 256> seen{};
        for (std::size_t p = 2; p < kBootReportLength; ++p) {
            if (report[p] != 0 && !seen[report[p]]) {
                seen[report[p]] = true;
                hold(report[p]);
            }
        }
    } else {
        for (unsigned usage = 0; usage < 8 * kBitmapReportLength; ++usage) {
            if ((report[usage / 8] >> (usage % 8)) & 1u) {
                hold(usage);
            }
        }
    }
    return held;
}

// One endpoint as the relay keeps it: its transfer buffer, and the makes minus
// breaks the host has been sent from it.
struct Endpoint {
    std::uint8_t address;
    ReportBuffer buffer;
    CodeCounts sent{};
};

class Replay {
public:
    // One completed transfer: libusb wrote `bytes` into the buffer of the
    // transfer that endpoint belongs to, and the callback decodes it.
    void complete(std::uint8_t endpoint, std::size_t length, const std::uint8_t* bytes) {
        Endpoint& ep = endpoint == kBootEndpoint ? boot : bitmap;  // as the callback picks
        std::memcpy(ep.buffer.current(), bytes, std::min(length, ReportBuffer::kHalf));
        std::array<std::uint8_t, ReportBuffer::kHalf> previousBefore;
        std::memcpy(previousBefore.data(), ep.buffer.previous(), ReportBuffer::kHalf);

        decodeReport(endpoint, length, ep.buffer, queue);
        std::uint8_t out[4096];
        const std::size_t n = queue.read(out, sizeof out);

        const bool accepted =
            endpoint == ep.address &&
            length == (endpoint == kBootEndpoint ? kBootReportLength : kBitmapReportLength);
        if (!accepted) {
            if (n != 0) {
                fail("ignored report emitted bytes", out[0]);
            }
            if (std::memcmp(previousBefore.data(), ep.buffer.previous(), ReportBuffer::kHalf) !=
                0) {
                fail("ignored report changed the previous report");
            }
            return;
        }
        const auto& reachable = ep.address == kBootEndpoint ? kReachable.boot : kReachable.bitmap;
        for (std::size_t i = 0; i < n; ++i) {
            const int code = keyCodeOf(out[i]);
            if (!reachable[code]) {
                fail("code of no usage this endpoint reports", code);
            }
            if (isBreak(out[i])) {
                if (--ep.sent[code] < 0) {
                    fail("break without a make before it", code);
                }
            } else {
                ++ep.sent[code];
            }
        }
        if (ep.sent != heldBy(ep.address, ep.buffer.current())) {
            fail("host's held keys differ from the report's");
        }
        if (std::memcmp(ep.buffer.current(), ep.buffer.previous(), length) != 0) {
            fail("decoded report not kept as the previous one");
        }
    }

    void expectNothingHeld() const {
        for (const Endpoint* ep : {&boot, &bitmap}) {
            for (int code = 0; code < kCodes; ++code) {
                if (ep->sent[code] != 0) {
                    fail("key still held after all keys were let go", code);
                }
            }
        }
    }

private:
    Endpoint boot{kBootEndpoint, {}, {}};
    Endpoint bitmap{kBitmapEndpoint, {}, {}};
    ByteQueue queue;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Replay replay;
    FuzzInput input(data, size);

    while (!input.atEnd()) {
        const std::uint8_t header = input.take();
        std::uint8_t endpoint = (header & 1u) != 0 ? kBitmapEndpoint : kBootEndpoint;
        std::size_t length = endpoint == kBootEndpoint ? kBootReportLength : kBitmapReportLength;
        if ((header & 2u) != 0) {
            length = input.take();
        }
        if ((header & 4u) != 0) {
            endpoint = input.take();
        }
        std::array<std::uint8_t, ReportBuffer::kHalf> bytes{};
        for (std::size_t i = 0; i < std::min(length, bytes.size()); ++i) {
            bytes[i] = input.take();
        }
        replay.complete(endpoint, length, bytes.data());
    }

    const std::array<std::uint8_t, ReportBuffer::kHalf> zeros{};
    replay.complete(kBootEndpoint, kBootReportLength, zeros.data());
    replay.complete(kBitmapEndpoint, kBitmapReportLength, zeros.data());
    replay.expectNothingHeld();
    return 0;
}
