// The Win32 serial back-end against a real line: a Linux pty that Wine maps as
// a COM port, whose other end (the serial peer) reports the line settings as
// Linux sees them and moves bytes in both directions.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <numeric>

#include "io/serial_port.h"
#include "support/import_patch.h"
#include "support/peer_link.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Reads from the port until n bytes came or five seconds passed.
Bytes readFromPort(SerialPort& port, std::size_t n) {
    Bytes got;
    const ULONGLONG deadline = GetTickCount64() + 5000;
    std::uint8_t buffer[4096];
    while (got.size() < n && GetTickCount64() < deadline) {
        const std::size_t count = port.readAvailable(buffer, sizeof(buffer));
        got.insert(got.end(), buffer, buffer + count);
        if (count == 0) {
            Sleep(5);
        }
    }
    return got;
}

// An event for a port to set when it wakes its worker.
struct WakeSignal {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~WakeSignal() { CloseHandle(event); }
};

// Discards whatever earlier tests left in the line, in both directions.
void drainLine(SerialPort& port, PeerLink& peer) {
    std::uint8_t buffer[4096];
    while (port.readAvailable(buffer, sizeof(buffer)) > 0) {
    }
    peer.drain();
}

TEST(SerialPortWin32Names, BareNamesGoToTheWin32DeviceNamespace) {
    EXPECT_EQ(SerialPort::devicePath("COM3"), "\\\\.\\COM3");
    EXPECT_EQ(SerialPort::devicePath("COM12"), "\\\\.\\COM12");
}

TEST(SerialPortWin32, LinuxSideSeesTheKeyboardLineSettings) {
    PeerLink peer;
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::comPort())) << port.lastOpenError().message;
    EXPECT_EQ(port.lastOpenError().code, 0);
    EXPECT_EQ(peer.settings(),
              "ispeed=2400 ospeed=2400 csize=8 parenb=0 cstopb=0 crtscts=0 ixon=0 ixoff=0 "
              "istrip=0 icrnl=0 opost=0 icanon=0 echo=0 isig=0");
}

TEST(SerialPortWin32, EveryByteValueCrossesUnchangedBothWays) {
    PeerLink peer;
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    drainLine(port, peer);

    Bytes all(256);
    std::iota(all.begin(), all.end(), 0);
    for (std::uint8_t b : all) {
        ASSERT_TRUE(port.writeByte(b));
    }
    EXPECT_EQ(peer.read(all.size()), all);

    peer.write(all);
    EXPECT_EQ(readFromPort(port, all.size()), all);
}

TEST(SerialPortWin32, ReadWithNothingWaitingReturnsAtOnce) {
    PeerLink peer;
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    drainLine(port, peer);
    // A read that blocked would never let this future become ready.
    auto read = std::async(std::launch::async, [&] {
        std::uint8_t buffer[16];
        return port.readAvailable(buffer, sizeof(buffer));
    });
    ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "readAvailable blocked on an idle line";
    EXPECT_EQ(read.get(), 0u);
    EXPECT_TRUE(port.isOpen()) << "an idle line is not a lost one";

    // And what arrives afterwards is still read.
    peer.write({0x41, 0x42});
    EXPECT_EQ(readFromPort(port, 2), (Bytes{0x41, 0x42}));
}

TEST(SerialPortWin32, MissingPortFailsWithTheSystemsReasonAndStaysClosed) {
    SerialPort port;
    EXPECT_FALSE(port.open("COM199"));
    EXPECT_FALSE(port.isOpen());
    const SerialPort::OpenError error = port.lastOpenError();
    EXPECT_EQ(error.code, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(error.message.empty());
    EXPECT_NE(error.message.back(), '\n');
    EXPECT_FALSE(port.writeByte(0x41));
    std::uint8_t buffer[16];
    EXPECT_EQ(port.readAvailable(buffer, sizeof(buffer)), 0u);
}

TEST(SerialPortWin32, TheMouseLineRunsAt4800Baud8N2AndIsOnlyWritten) {
    PeerLink peer(1);
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::mouseComPort(), LineSettings::mouseLine()))
        << port.lastOpenError().message;
    EXPECT_EQ(peer.settings(),
              "ispeed=4800 ospeed=4800 csize=8 parenb=0 cstopb=1 crtscts=0 ixon=0 ixoff=0 "
              "istrip=0 icrnl=0 opost=0 icanon=0 echo=0 isig=0");
    peer.drain();
    for (const std::uint8_t b : {0x01, 0x7F, 0x80}) {
        ASSERT_TRUE(port.writeByte(b));
    }
    EXPECT_EQ(peer.read(3), (Bytes{0x01, 0x7F, 0x80}));
    // What comes back on its wire is never taken.
    peer.write({0x41});
    std::uint8_t buffer[4];
    EXPECT_EQ(port.readAvailable(buffer, sizeof(buffer)), 0u);
    EXPECT_TRUE(port.isOpen());
    port.close();
    EXPECT_EQ(peer.openers(), 0);
}

TEST(SerialPortWin32, ReopeningReleasesTheFirstHandleAndCloseReleasesTheLine) {
    PeerLink peer;
    ASSERT_EQ(peer.openers(), 0) << "the line is held before the test";
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    const int heldOnce = peer.openers();
    ASSERT_GT(heldOnce, 0);
    // Opening again closes the first handle before taking a new one.
    ASSERT_TRUE(port.open(PeerLink::comPort())) << port.lastOpenError().message;
    EXPECT_EQ(peer.openers(), heldOnce);
    drainLine(port, peer);
    ASSERT_TRUE(port.writeByte(0x5A));
    EXPECT_EQ(peer.read(1), (Bytes{0x5A}));

    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(peer.openers(), 0);
    EXPECT_FALSE(port.writeByte(0x41));
    std::uint8_t buffer[16];
    EXPECT_EQ(port.readAvailable(buffer, sizeof(buffer)), 0u);
}

TEST(SerialPortWin32, AByteFromThePeerWakesTheWorkerWithTheByteWaiting) {
    PeerLink peer;
    WakeSignal woken;  // outlives the port, whose reader thread sets it
    SerialPort port;
    port.setWake([&woken] { SetEvent(woken.event); });
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    drainLine(port, peer);
    ResetEvent(woken.event);

    peer.write({0x60});
    ASSERT_EQ(WaitForSingleObject(woken.event, 10000), WAIT_OBJECT_0) << "no wake for the byte";
    // The byte is queued before the wake: a worker woken by it finds it.
    std::uint8_t buffer[16];
    ASSERT_EQ(port.readAvailable(buffer, sizeof(buffer)), 1u);
    EXPECT_EQ(buffer[0], 0x60);
}

TEST(SerialPortWin32, AFarEndThatTakesNothingCostsTheByteNotTheWriter) {
    PeerLink peer;
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    drainLine(port, peer);
    peer.hold();
    // Neither the write nor the close may wait for the line to take the byte;
    // one that did would hang here until ctest's time-out.
    EXPECT_FALSE(port.writeByte(0x41));
    EXPECT_TRUE(port.isOpen()) << "a held line is not a lost one";
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(peer.openers(), 0);
}

// Drivers as Windows has them and Wine's pty does not show: GetCommState that
// fails, SetCommState that refuses (Windows' own refuses equal XON and XOFF
// characters, as a zeroed DCB has them), a line that reads back otherwise.
decltype(&GetCommState) realGetCommState = nullptr;
decltype(&SetCommState) realSetCommState = nullptr;
enum class LineDriver { FailsFirstRead, RefusesSettings, ReadsBack9600 } lineDriver;
int commStateReads = 0;

BOOL WINAPI getCommState(HANDLE port, LPDCB dcb) {
    if (lineDriver == LineDriver::FailsFirstRead && commStateReads++ == 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    const BOOL read = realGetCommState(port, dcb);
    if (lineDriver == LineDriver::ReadsBack9600) {
        dcb->BaudRate = CBR_9600;
    }
    return read;
}

BOOL WINAPI setCommState(HANDLE port, LPDCB dcb) {
    if (lineDriver == LineDriver::RefusesSettings || dcb->XonChar == dcb->XoffChar) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return realSetCommState(port, dcb);
}

TEST(SerialPortWin32, LineSettingsThatDoNotTakeFailTheOpenWithTheReason) {
    PeerLink peer;
    realGetCommState = reinterpret_cast<decltype(&GetCommState)>(
        replaceImport("KERNEL32.dll", "GetCommState", reinterpret_cast<void*>(&getCommState)));
    realSetCommState = reinterpret_cast<decltype(&SetCommState)>(
        replaceImport("KERNEL32.dll", "SetCommState", reinterpret_cast<void*>(&setCommState)));
    ASSERT_NE(realGetCommState, nullptr);
    ASSERT_NE(realSetCommState, nullptr);
    SerialPort port;

    // Nothing reported to start from: the line is set up all the same.
    lineDriver = LineDriver::FailsFirstRead;
    EXPECT_TRUE(port.open(PeerLink::comPort())) << port.lastOpenError().message;
    EXPECT_EQ(peer.settings().substr(0, 26), "ispeed=2400 ospeed=2400 cs");
    port.close();

    lineDriver = LineDriver::RefusesSettings;
    EXPECT_FALSE(port.open(PeerLink::comPort()));
    EXPECT_EQ(port.lastOpenError().code, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(port.lastOpenError().message.rfind(
                  "The port refused 2400 baud 8N1 without flow control: ", 0),
              0u)
        << port.lastOpenError().message;
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(peer.openers(), 0);

    lineDriver = LineDriver::ReadsBack9600;
    EXPECT_FALSE(port.open(PeerLink::comPort()));
    EXPECT_EQ(port.lastOpenError().code, ERROR_NOT_SUPPORTED);
    EXPECT_EQ(port.lastOpenError().message,
              "The port runs at 9600 baud 8N1 without flow control instead of 2400 baud 8N1 "
              "without flow control.");
    EXPECT_EQ(peer.openers(), 0);

    replaceImport("KERNEL32.dll", "GetCommState", reinterpret_cast<void*>(realGetCommState));
    replaceImport("KERNEL32.dll", "SetCommState", reinterpret_cast<void*>(realSetCommState));
}

// Some CH340 and Prolific drivers ignore CancelIoEx on a pending read.
BOOL WINAPI cancelIgnored(HANDLE, LPOVERLAPPED) {
    return TRUE;
}

TEST(SerialPortWin32, ClosingEndsAReadThatTheDriverWillNotCancel) {
    PeerLink peer;
    SerialPort port;
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    drainLine(port, peer);
    void* cancel =
        replaceImport("KERNEL32.dll", "CancelIoEx", reinterpret_cast<void*>(&cancelIgnored));
    ASSERT_NE(cancel, nullptr);
    // The reader's read waits 60 s for a byte that never comes; a close that
    // waited for it would never let this future become ready in time.
    auto closing = std::async(std::launch::async, [&] { port.close(); });
    const bool closed = closing.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    replaceImport("KERNEL32.dll", "CancelIoEx", cancel);
    ASSERT_TRUE(closed) << "close waited for the read";
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(peer.openers(), 0);

    // The line serves the next open as before.
    ASSERT_TRUE(port.open(PeerLink::comPort()));
    peer.write({0x61});
    EXPECT_EQ(readFromPort(port, 1), Bytes{0x61});
}

}  // namespace
