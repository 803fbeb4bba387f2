#include "io/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SerialPortNames, BareNamesLiveInDevAbsolutePathsStandOthersAreRefused) {
    EXPECT_EQ(SerialPort::devicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(SerialPort::devicePath("/dev/serial/by-id/usb-FTDI-if00"),
              "/dev/serial/by-id/usb-FTDI-if00");
    EXPECT_EQ(SerialPort::devicePath("/tmp/x68k"), "/tmp/x68k");
    for (const char* name : {"", "../etc/passwd", "..", "serial/by-id/x", "./ttyS0", "tty..0"}) {
        EXPECT_EQ(SerialPort::devicePath(name), "") << name;
        SerialPort port;
        EXPECT_FALSE(port.open(name)) << name;
        EXPECT_EQ(port.lastOpenError().code, EINVAL) << name;
    }
}

TEST(SerialPort, OnlyATerminalIsTakenAndNothingElseIsTouched) {
    TempDir dir;
    const std::string file = (dir / "file").string();
    std::ofstream(file) << "keep";
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {file, fifo, dir.path().string(), std::string("/dev/null")}) {
        SerialPort port;
        EXPECT_FALSE(port.open(path)) << path;
        EXPECT_EQ(port.lastOpenError().code, ENOTTY) << path;
        EXPECT_EQ(port.lastOpenError().message, "not a terminal") << path;
    }
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
}

TEST(SerialPort, ADeviceThatIsNoTerminalIsNotEvenOpened) {
    // Opening some devices acts by itself: a hardware watchdog arms and, unfed,
    // reboots the machine. A node of an unused minor of the memory devices
    // would fail to open with ENXIO; refused as no terminal, it never was.
    if (geteuid() != 0) {
        GTEST_SKIP() << "making a device node needs root";
    }
    TempDir dir;
    const std::string node = (dir / "watchdog").string();
    ASSERT_EQ(mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 250)), 0) << std::strerror(errno);
    SerialPort port;
    EXPECT_FALSE(port.open(node));
    EXPECT_EQ(port.lastOpenError().code, ENOTTY);
}

TEST(SerialPort, ALineAnotherProgramHoldsIsInUse) {
    PtyPair pty;
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);  // as another pellora, or a terminal program
    SerialPort port;
    EXPECT_FALSE(port.open(pty.slavePath()));
    EXPECT_EQ(port.lastOpenError().code, EBUSY);
    EXPECT_EQ(port.lastOpenError().message, "in use by another program");
    ::close(other);
    EXPECT_TRUE(port.open(pty.slavePath()));
}

TEST(SerialPort, TheLineIsGivenBackAsItWasFoundAndOldInputIsDropped) {
    PtyPair pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &before), 0);
    pty.write({0x41, 0x42});  // sent before anyone listened
    {
        SerialPort port;
        ASSERT_TRUE(port.open(pty.slavePath()));
        std::uint8_t buffer[16];
        EXPECT_EQ(port.readAvailable(buffer, sizeof buffer), 0u);
        pty.write({0x43});
        EXPECT_TRUE(waitFor([&] { return port.readAvailable(buffer, sizeof buffer) == 1; }));
        EXPECT_EQ(buffer[0], 0x43);
    }
    termios after{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST(SerialPort, AppliesKeyboardLineSettings) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));

    // The master's termios calls act on the slave's settings.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B2400);
    EXPECT_EQ(cfgetispeed(&tio), B2400);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);

    // Exclusive use: a second opener is refused, unless it may override that
    // (root), in which case the line must still say it is exclusive.
    const int other = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (other >= 0) {
        int exclusive = 0;
        EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        ::close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
}

TEST(SerialPort, TheMouseLineRuns4800Baud8N2WrittenOnlyBesideTheKeyLine) {
    PtyPair keys, mouse;
    for (const PtyPair* pty : {&keys, &mouse}) {
        // Set otherwise first, so that the settings must come from the port (a
        // pty keeps CS8 and CREAD and clears PARENB itself, whatever it is told).
        termios tio{};
        ASSERT_EQ(tcgetattr(pty->masterFd(), &tio), 0);
        cfsetspeed(&tio, B9600);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
        tio.c_oflag |= OPOST | ONLCR;
        ASSERT_EQ(tcsetattr(pty->masterFd(), TCSANOW, &tio), 0);
    }
    SerialPort keyLine, mouseLine;
    ASSERT_TRUE(keyLine.open(keys.slavePath()));
    ASSERT_TRUE(mouseLine.open(mouse.slavePath(), LineSettings::mouseLine()));
    termios tio{};
    ASSERT_EQ(tcgetattr(mouse.masterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B4800);
    EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | PARENB | CRTSCTS),
              static_cast<tcflag_t>(CS8 | CSTOPB));
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    ASSERT_EQ(tcgetattr(keys.masterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B2400);
    EXPECT_EQ(tio.c_cflag & (CSIZE | CSTOPB | PARENB), static_cast<tcflag_t>(CS8));

    // A packet may hold any byte: dy -1 is 0xFF, dx 10 a line feed.
    const Bytes packets{0x92, 0x7F, 0x80, 0x00, 0x0A, 0xFF, 0x03, 0x0D, 0x11};
    for (std::uint8_t b : packets) {
        ASSERT_TRUE(mouseLine.writeByte(b));
    }
    EXPECT_EQ(mouse.read(packets.size()), packets);
    mouse.write({0x41});  // whatever comes in is not read
    std::uint8_t buffer[16];
    EXPECT_EQ(mouseLine.readAvailable(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(mouseLine.isOpen());
    mouseLine.close();
    ASSERT_EQ(tcgetattr(mouse.masterFd(), &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);  // given back as it was found

    // A hang-up wakes a poll() for no events, and closes the line.
    ASSERT_TRUE(mouseLine.open(mouse.slavePath(), LineSettings::mouseLine()));
    mouse.closeMaster();
    pollfd hangUp{static_cast<int>(mouseLine.nativeHandle()), 0, 0};
    EXPECT_EQ(::poll(&hangUp, 1, 0), 1);
    EXPECT_NE(hangUp.revents & POLLHUP, 0);
    EXPECT_EQ(mouseLine.readAvailable(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(mouseLine.isOpen());

    EXPECT_FALSE(mouseLine.open(keys.slavePath(), {.baud = 9600}));
    EXPECT_EQ(mouseLine.lastOpenError().code, EINVAL);
}

TEST(SerialPort, RawBytesBothWaysWithoutTranslation) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    const Bytes all = [] {
        Bytes b;
        for (int i = 0; i < 256; ++i) {
            b.push_back(static_cast<std::uint8_t>(i));
        }
        return b;
    }();
    for (std::uint8_t b : all) {
        ASSERT_TRUE(port.writeByte(b));
    }
    EXPECT_EQ(pty.read(all.size()), all);

    pty.write(all);
    Bytes got;
    ASSERT_TRUE(waitFor([&] {
        std::uint8_t buffer[4096];
        const std::size_t n = port.readAvailable(buffer, sizeof buffer);
        got.insert(got.end(), buffer, buffer + n);
        return got.size() >= all.size();
    }));
    EXPECT_EQ(got, all);
}

TEST(SerialPort, ReadReturnsAtOnceWhenNothingWaits) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    std::uint8_t buffer[16];
    EXPECT_EQ(port.readAvailable(buffer, sizeof buffer), 0u);  // a blocking read hangs here
    EXPECT_TRUE(port.isOpen());
}

TEST(SerialPort, MissingDeviceFailsAndStaysClosed) {
    SerialPort port;
    EXPECT_FALSE(port.open("/nonexistent/ttyPELLORA"));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.lastOpenError().code, ENOENT);
    EXPECT_FALSE(port.lastOpenError().message.empty());
    EXPECT_FALSE(port.writeByte(0x1E));
    std::uint8_t buffer[16];
    EXPECT_EQ(port.readAvailable(buffer, sizeof buffer), 0u);
}

TEST(SerialPort, HangUpClosesThePortForGood) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    pty.write({0x41});  // even with data waiting, a dead line is closed
    pty.closeMaster();
    std::uint8_t buffer[16];
    EXPECT_EQ(port.readAvailable(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(processHasOpen(pty.slavePath()));
    EXPECT_EQ(port.readAvailable(buffer, sizeof buffer), 0u);
    EXPECT_FALSE(port.writeByte(0x1E));

    // A write finds a hang-up as a read does.
    PtyPair other;
    ASSERT_TRUE(port.open(other.slavePath()));
    other.closeMaster();
    EXPECT_FALSE(port.writeByte(0x1E));
    EXPECT_FALSE(port.isOpen());
}

TEST(SerialPort, ReopenClosesTheFirstHandle) {
    PtyPair first, second;
    SerialPort port;
    ASSERT_TRUE(port.open(first.slavePath()));
    EXPECT_TRUE(processHasOpen(first.slavePath()));
    ASSERT_TRUE(port.open(second.slavePath()));
    EXPECT_FALSE(processHasOpen(first.slavePath()));
    EXPECT_TRUE(processHasOpen(second.slavePath()));
    ASSERT_TRUE(port.writeByte(0x35));
    EXPECT_EQ(second.read(1), Bytes{0x35});

    // A failed open also leaves nothing of the earlier port open.
    EXPECT_FALSE(port.open("/nonexistent/ttyPELLORA"));
    EXPECT_FALSE(processHasOpen(second.slavePath()));
    EXPECT_EQ(port.lastOpenError().code, ENOENT);
}

TEST(SerialPort, CloseLeavesTheLineShareableAgain) {
    PtyPair pty;
    {
        SerialPort port;
        ASSERT_TRUE(port.open(pty.slavePath()));
    }
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    int exclusive = 1;
    EXPECT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(fd);
}

}  // namespace
