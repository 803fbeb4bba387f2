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
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PeerLink {
public:
    // Connects to PELLORA_PTY_PEER ("127.0.0.1:PORT"); throws std::runtime_error.
    PeerLink();
    ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    // The COM port name the peer's pty is mapped to (PELLORA_PTY_COM).
    static std::string comPort();

    std::string settings();
    void write(const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> read(std::size_t n, unsigned timeoutMs = 5000);
    void drain();
    int openers();
    void hold();
    void vanish();
    void comeBack();

private:
    std::string request(const std::string& line);
    void expectOk(const std::string& line);

    std::uintptr_t socketHandle;
    std::string pending;  // received bytes after the last full line
};
