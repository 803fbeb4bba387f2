// Keyboard-to-host half of the X68000 keyboard protocol: scan-code bytes from the
// key queue go out one byte at a time, and the last key pressed auto-repeats.
//
// Wire format: single bytes at 2400 baud; bit 7 clear is a make of the key code in
// bits 0-6, bit 7 set its break. A repeat is another make of the held key, with
// no break in between. No framing, no checksum, no acknowledgement.
//
// Runs on the relay's worker only.
#pragma once

#include <bitset>
#include <cstdint>
#include <vector>

#include "io/byte_queue.h"
#include "io/serial_port.h"

// Typematic state. Times are milliseconds; repeatDue is a tick value that wraps.
struct RepeatState {
    std::int32_t repeatCode = 0;  // key code being repeated (1-0x7F); 0 = none
    std::uint32_t repeatDue = 0;  // tick at which the next repeat is due
    std::int32_t repeatDelayMs = 0;
    std::int32_t repeatIntervalMs = 0;
};

// The keys the host was last told are down: a make written sets its code, a
// break written clears it. What has to be let go when the line or the keyboard
// goes away, so the host is never left with SHIFT or CTRL held. owed: those
// among them whose break the line did not take (a host that stopped reading
// filled it): up at the keyboard, still down at the host, until
// sendOwedBreaks() finds room. order: the keys of down in the order their
// makes went out, oldest first, for a host that asks to be told them again.
struct HeldKeys {
    std::bitset<128> down;
    std::bitset<128> owed;
    std::vector<std::uint8_t> order;

    bool any() const { return down.any(); }
    std::size_t count() const { return down.count(); }
    // Notes a make or a break that went out.
    void wentDown(std::uint8_t code);
    void wentUp(std::uint8_t code);
};

// What a keyboard sends when it is ready: the X68000 answers it at once with
// its LED state (ROM 1.3 also with its repeat delay and interval), so the
// keyboard's LEDs show the host's from the start. Never a key: 0x7F is none.
constexpr std::uint8_t kReadyByte = 0xFF;

// The host's defaults: delay 500 ms and interval 110 ms (its commands 0x63, 0x74).
constexpr std::int32_t kDefaultRepeatDelayMs = 500;
constexpr std::int32_t kDefaultRepeatIntervalMs = 110;

// Back to power-on: no key repeating, default delay and interval.
void resetRepeat(RepeatState& repeat);

// Stops any repeat but keeps the delay and interval the host chose.
void stopRepeat(RepeatState& repeat);

// Whether a repeat is due at tick now; survives the wrap of the 32-bit tick.
bool repeatIsDue(const RepeatState& repeat, std::uint32_t now);

// Milliseconds from now until the next repeat is due (0 when it is due
// already); -1 when no key repeats.
std::int32_t msUntilRepeat(const RepeatState& repeat, std::uint32_t now);

// One worker pass at tick now: sends the breaks still owed (sendOwedBreaks),
// then drains keyQueue to the port (bytes are drained
// and the repeat state is kept even while the port is closed), then writes at
// most one repeat byte if the held key's repeat is due. A repeat found more
// than an interval late is scheduled again from now, so after a stall (a
// stopped process, a keyboard being released, a suspended machine) one late
// repeat goes out, not the whole backlog.
void pumpKeys(ByteQueue& keyQueue, SerialPort& port, RepeatState& repeat, HeldKeys& held,
              std::uint32_t now);

// pumpKeys' parts, for a caller that drains its own queues: one scan code
// written (a make arms the repeat of its key, a break stops or delays it),
// and the repeat byte if one is due.
void sendKey(SerialPort& port, RepeatState& repeat, HeldKeys& held, std::uint8_t scanCode,
             std::uint32_t now);
void sendDueRepeat(SerialPort& port, RepeatState& repeat, HeldKeys& held, std::uint32_t now);

// The host asks to be told the keys held (it has just started: every ROM sends
// 0x49, keyboard enable, as it does): the make codes of the keys still down,
// in the order they were pressed, once. Keys whose break is owed are up, and
// the repeat goes on as it was.
void retellHeldKeys(SerialPort& port, const HeldKeys& held);

// Stops the repeat and writes the break of every key in held, lowest code
// first. Only the keys whose break was written are forgotten: with the line
// away (or full) the others stay held, so their breaks go first once it is
// back.
void releaseHeldKeys(SerialPort& port, RepeatState& repeat, HeldKeys& held);

// Writes the breaks in held.owed, lowest code first, while the line takes
// them; what it still refuses stays owed.
void sendOwedBreaks(SerialPort& port, HeldKeys& held);

// The keyboard and an open line to the host have just met: the breaks still
// owed to the line go first (releaseHeldKeys), then the ready byte. Returns
// whether the ready byte went out; one the line did not take is lost like any
// other byte, never sent again.
bool announceReady(SerialPort& port, RepeatState& repeat, HeldKeys& held);
