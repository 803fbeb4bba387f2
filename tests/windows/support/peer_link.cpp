#include "peer_link.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <stdexcept>

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(
            std::string(name) +
            " is not set: run the Windows tests through scripts/test-windows.sh");
    }
    return value;
}

std::string toHex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::uint8_t> fromHex(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

}  // namespace

PeerLink::PeerLink(int line) {
    const std::string address = environment("PELLORA_PTY_PEER");
    const auto colon = address.rfind(':');
    WSADATA wsa{};
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<u_short>(std::stoi(address.substr(colon + 1))));
    inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr);
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) != 0) {
        throw std::runtime_error("cannot reach the serial peer at " + address);
    }
    socketHandle = static_cast<std::uintptr_t>(s);
    if (line != 0) {
        expectOk("LINE " + std::to_string(line));
    }
}

PeerLink::~PeerLink() {
    closesocket(static_cast<SOCKET>(socketHandle));
    WSACleanup();
}

std::string PeerLink::comPort() {
    return environment("PELLORA_PTY_COM");
}

std::string PeerLink::mouseComPort() {
    return environment("PELLORA_PTY_MOUSE_COM");
}

std::string PeerLink::xdo(const std::string& args) {
    const std::string reply = request("XDO " + args);
    if (reply.rfind("OK", 0) != 0) {
        throw std::runtime_error("serial peer: xdotool " + args + ": " + reply);
    }
    return reply.size() > 3 ? reply.substr(3) : std::string();
}

std::vector<int> PeerLink::latency(const std::string& keysym, int count) {
    const std::string reply = request("LATENCY " + keysym + " " + std::to_string(count));
    if (reply.rfind("ERROR", 0) == 0) {
        throw std::runtime_error("serial peer: " + reply);
    }
    std::vector<int> samples;
    std::size_t at = 0;
    while (at < reply.size()) {
        std::size_t used = 0;
        samples.push_back(std::stoi(reply.substr(at), &used));
        at += used;
        while (at < reply.size() && reply[at] == ' ') {
            ++at;
        }
    }
    return samples;
}

std::string PeerLink::request(const std::string& line) {
    const std::string out = line + "\n";
    if (send(static_cast<SOCKET>(socketHandle), out.data(), static_cast<int>(out.size()), 0) !=
        static_cast<int>(out.size())) {
        throw std::runtime_error("serial peer: send failed");
    }
    for (;;) {
        const auto newline = pending.find('\n');
        if (newline != std::string::npos) {
            std::string reply = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            return reply;
        }
        char buffer[4096];
        const int n = recv(static_cast<SOCKET>(socketHandle), buffer, sizeof(buffer), 0);
        if (n <= 0) {
            throw std::runtime_error("serial peer: connection lost");
        }
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string PeerLink::settings() {
    return request("SETTINGS");
}

void PeerLink::write(const std::vector<std::uint8_t>& bytes) {
    expectOk("WRITE " + toHex(bytes));
}

std::vector<std::uint8_t> PeerLink::read(std::size_t n, unsigned timeoutMs) {
    return fromHex(request("READ " + std::to_string(n) + " " + std::to_string(timeoutMs)));
}

void PeerLink::drain() {
    request("DRAIN");
}

int PeerLink::openers() {
    return std::stoi(request("OPENERS"));
}

void PeerLink::hold() {
    expectOk("HOLD");
}

void PeerLink::vanish() {
    expectOk("VANISH");
}

void PeerLink::comeBack() {
    expectOk("RETURN");
}

void PeerLink::expectOk(const std::string& line) {
    if (request(line) != "OK") {
        throw std::runtime_error("serial peer: " + line + " failed");
    }
}
