// The Windows side's line to the serial peer (tests/windows/serial_peer.py), the
// Linux program that holds the master end of the pty mapped as the test's COM
// port. The peer answers one text line per request over TCP on the loopback:
//   SETTINGS       -> "speed=2400 csize=8 ..." as the Linux side reads the line
//   WRITE <hex>    -> "OK" once the bytes are written into the line
//   READ <n> <ms>  -> the hex of up to n bytes that came out of the line within ms
//   DRAIN          -> "OK" once whatever waited is discarded
//   OPENERS        -> how many descriptors other processes hold on the line
//   HOLD           -> "OK" once the line takes no more bytes from the COM port,
//                     until the next connection (each PeerLink starts unheld)
//   VANISH         -> "OK" once the pty is closed (the COM port's handle hangs
//                     up) and its name is gone, as when an adapter is pulled out
//   RETURN         -> "OK" once a new pty is there under the name (each
//                     PeerLink starts with the line there)
//   LINE <n>       -> "OK": the requests after it are about line n (0: the
//                     key line, PELLORA_PTY_COM; 1: the mouse's,
//                     PELLORA_PTY_MOUSE_COM)
//   XDO <words>    -> "OK <its output>" once xdotool has run with the words
//                     on the X display the Windows programs are on
//   LATENCY <keysym> <n> -> the microseconds from each of n presses and n
//                     releases of the key, put into the X server, to its byte
//                     on the line, in turn
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PeerLink {
public:
    // Connects to PELLORA_PTY_PEER ("127.0.0.1:PORT") about line (0 the key
    // line, 1 the mouse's); throws std::runtime_error.
    explicit PeerLink(int line = 0);
    ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // The COM port name the peer's pty is mapped to (PELLORA_PTY_COM), and
    // its second's (PELLORA_PTY_MOUSE_COM).
    static std::string comPort();
    static std::string mouseComPort();

    std::string settings();
    void write(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> read(std::size_t n, unsigned timeoutMs = 5000);
    void drain();
    int openers();
    void hold();
    void vanish();
    void comeBack();
    // Runs xdotool with args; its output. Throws when it fails.
    std::string xdo(const std::string& args);
    // LATENCY: the samples, in microseconds.
    std::vector<int> latency(const std::string& keysym, int count);

private:
    std::string request(const std::string& line);
    void expectOk(const std::string& line);

    std::uintptr_t socketHandle;
    std::string pending;  // received bytes after the last full line
};
