// The X68000 mouse's half of its line: what the mouse has done since the host
// last asked, and the 3-byte packet that tells it.
//
// The host asks by pulling MSCTRL low (on the key line, 0x41 then 0x40); the
// mouse answers on its own wire (MSDATA, 4800 baud 8N2) with
//
//   byte 0  status: bit 0 left button, bit 1 right button,
//           bit 4 X beyond +127, bit 5 X beyond -128,
//           bit 6 Y beyond +127, bit 7 Y beyond -128
//   byte 1  dx, signed 8-bit, + to the right
//   byte 2  dy, signed 8-bit, + downwards
//
// Motion is summed between packets; a packet carries at most -128...127 on
// each axis and drops the excess, as a real mouse does, with the axis's
// overflow bit set only for motion past those bounds.
//
// Motion may be scaled first (a modern mouse's counts are too many for the
// X68000's ROM, which accelerates them again). The fraction a move leaves is
// carried to the next, per axis, so slow motion is never lost: at 0.3 ten
// moves of one count make three. What has been summed in all is always the
// scaled total rounded to the nearest count (halves up), so motion that
// comes back the same way ends where it started.
//
// Buttons are reported as they are when the packet is made, except that a
// change undone before then (a click shorter than the 20 ms between the
// host's requests) is not lost: the next packet shows it, and the one after
// the state it went back to.
//
// A plain value: its owner (the relay's worker) uses it from one thread.
#pragma once

#include <array>
#include <cstdint>

class MouseMotion {
public:
    using Packet = std::array<std::uint8_t, 3>;

    // The factors motion may be scaled by.
    static constexpr double kMinScale = 0.1;
    static constexpr double kMaxScale = 10.0;

    MouseMotion() = default;
    // Scaled by scale, as setScale() takes it.
    explicit MouseMotion(double scale);

    // Motion from now on is multiplied by scale (1: as the device reports it),
    // to the nearest millionth. std::invalid_argument for a scale outside
    // kMinScale...kMaxScale.
    void setScale(double scale);

    // Relative motion as the input device reports it (+x right, +y down).
    void move(std::int32_t dx, std::int32_t dy);
    // The buttons as they are now.
    void setButtons(bool left, bool right);

    // The packet for what happened since the last one (no motion is a packet
    // too: the buttons, 0, 0), and a fresh start of the sums. The buttons stay.
    Packet takePacket();

    // Forgets the motion not yet sent, fractions too; the buttons are up (a
    // mouse unplugged). The scale stays.
    void reset();

private:
    // One axis's move scaled, in whole counts; fraction is what it carries
    // to the next move.
    std::int64_t scaled(std::int64_t& fraction, std::int32_t delta) const;

    // The scale, and per axis the fraction of a count carried, in millionths
    // (so the arithmetic is exact: a fraction is within -0.5 and +0.5).
    std::int64_t scaleMillionths = 1'000'000;
    std::int64_t fractionX = 0;
    std::int64_t fractionY = 0;
    // The sums, held within a bound far past what one packet carries, so a
    // host that stops asking cannot make them overflow.
    std::int32_t sumX = 0;
    std::int32_t sumY = 0;
    // One button: as it is, as the last packet told it, and a change since
    // then that the next packet must show even if it was undone.
    struct Button {
        bool down = false;
        bool told = false;
        bool pressed = false;
        bool released = false;

        void set(bool now);
        bool take();  // the state the next packet tells
    };
    Button left;
    Button right;
};
