// LineSettings: how a SerialPort runs its line. Pellora has two lines to the
// X68000's keyboard connector:
//   - the key line (keyLine(), the default): key codes out, the host's
//     commands in, at 2400 baud, 8 data bits, no parity, 1 stop bit; the
//     driver is asked to hand received bytes on at once (Linux's
//     ASYNC_LOW_LATENCY; an FTDI adapter otherwise holds them up to 16 ms),
//     as the host's mouse requests arrive there;
//   - the mouse line (mouseLine()), wired to the connector's MSDATA pin: the
//     mouse's packets out at 4800 baud, 8 data bits, no parity, 2 stop bits,
//     and nothing in: the port is opened for writing only, its receiver off
//     where the driver lets it, and never read.
// Both are raw 8-bit lines without flow control.
//
// A plain value.
#pragma once

struct LineSettings {
    int baud = 2400;      // 2400 or 4800
    int stopBits = 1;     // 1 or 2
    bool receive = true;  // read as well as written (and asked for low latency)

    static constexpr LineSettings keyLine() { return {}; }
    static constexpr LineSettings mouseLine() { return {4800, 2, false}; }
    bool operator==(const LineSettings&) const = default;
};
