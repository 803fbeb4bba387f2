// POSIX back-end of SerialPort: a tty opened raw with the line's settings (the
// key line's 2400 baud 8N1, the mouse line's 4800 baud 8N2), for this program
// alone, and given back as it was found.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "io/serial_port.h"

namespace {

int fdOf(SerialPort::NativeHandle h) {
    return static_cast<int>(h);
}

speed_t speedOf(int baud) {
    switch (baud) {
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        default:
            return B0;
    }
}

// Raw 8 bits, no parity, no flow control of any kind, reads that return at
// once; the speed and stop bits of the line, and its receiver on only if it
// receives.
void applyLineSettings(int fd, termios tio, const LineSettings& line) {
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | CREAD);
    tio.c_cflag |= CS8 | CLOCAL;
    if (line.stopBits == 2) {
        tio.c_cflag |= CSTOPB;
    }
    if (line.receive) {
        tio.c_cflag |= CREAD;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speedOf(line.baud));
    cfsetospeed(&tio, speedOf(line.baud));
    tcsetattr(fd, TCSANOW, &tio);
}

// Asks the driver to hand each received byte on at once rather than after its
// own timer (an FTDI adapter's latency timer holds them up to 16 ms, most of a
// mouse request's budget). True when the flag was off and is on now, so that
// close() puts it back. A driver without the request (a pty) or one that
// refuses it leaves the line as it was: slower, but working.
bool askLowLatency(int fd) {
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) {
        return false;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &serial) == 0;
#else
    (void)fd;
    return false;
#endif
}

void giveBackLowLatency(int fd) {
#if defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
#else
    (void)fd;
#endif
}

bool meansDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

// Unix98 pseudo-terminal slaves (/dev/pts/N): majors 136 to 143.
bool isPseudoTerminal(const struct stat& st) {
    const unsigned major = ::major(st.st_rdev);
    return major >= 136 && major <= 143;
}

// Whether the character device rdev is a terminal, asked of sysfs before
// anything opens it: opening some devices acts by itself (a hardware watchdog
// arms at open, and reboots the machine unless it is fed). Pseudo-terminal
// slaves have no sysfs entry; without sysfs at all nothing can be told before
// the open, and the checks after it decide.
bool isTerminalDevice(dev_t rdev) {
    const unsigned major = ::major(rdev);
    if (major >= 136 && major <= 143) {
        return true;
    }
    struct stat st {};
    if (::stat("/sys/dev/char", &st) != 0) {
        return true;
    }
    const std::string link = "/sys/dev/char/" + std::to_string(major) + ":" +
                             std::to_string(::minor(rdev)) + "/subsystem";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return false;
    }
    const std::string subsystem(target, static_cast<std::size_t>(n));
    return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
}

// Lets the output queue empty for a bounded time: a dozen bytes take 50 ms at
// 2400 baud, and a far end that has stopped the line must not hold us longer.
void drainBriefly(int fd) {
    constexpr int kMaxWaitMs = 100;
    constexpr int kStepMs = 2;
    for (int waited = 0; waited < kMaxWaitMs; waited += kStepMs) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) {
            return;
        }
        timespec step{0, kStepMs * 1000000L};
        nanosleep(&step, nullptr);
    }
}

SerialPort::OpenError refusal(int code, const char* why) {
    return {code, why};
}

}  // namespace

struct SerialPort::Platform {
    termios savedSettings{};  // the line as found at open, put back at close
    bool pseudoTerminal = false;
    bool receive = true;             // the line is read; otherwise written only
    bool lowLatencySetHere = false;  // ASYNC_LOW_LATENCY was off before the open
};

SerialPort::SerialPort() : platform(std::make_unique<Platform>()) {}

SerialPort::~SerialPort() {
    close();
}

std::string SerialPort::devicePath(const std::string& name) {
    if (!name.empty() && name.front() == '/') {
        return name;
    }
    // A bare name is a tty in /dev, nowhere else: no way out of /dev by a
    // slash or a "..", and no path relative to wherever pellora was started.
    if (name.empty() || name.find('/') != std::string::npos ||
        name.find("..") != std::string::npos) {
        return {};
    }
    return "/dev/" + name;
}

bool SerialPort::open(const std::string& name, const LineSettings& settings) {
    std::lock_guard lock(mutex);
    closeLocked();

    if (speedOf(settings.baud) == B0 || (settings.stopBits != 1 && settings.stopBits != 2)) {
        openError = refusal(EINVAL, "not a line speed and stop bits this port offers");
        return false;
    }
    const std::string path = devicePath(name);
    if (path.empty()) {
        openError =
            refusal(EINVAL, "not a port name (a name that --list shows, or an absolute path)");
        return false;
    }
    // Only a terminal is opened at all: a regular file would be written over
    // with key codes and read back as host commands, a FIFO would block.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (!S_ISCHR(st.st_mode) || !isTerminalDevice(st.st_rdev))) {
        openError = refusal(ENOTTY, "not a terminal");
        return false;
    }
    // Non-blocking from the open on: without CLOCAL yet set, a port with no
    // carrier would block the open itself, and later a host that stops reading
    // would park the worker in write() for good (holding the port's lock, so
    // stop() and status() would wait too).
    // A line written only is opened so: nothing can read it by mistake.
    const int fd = ::open(
        path.c_str(), (settings.receive ? O_RDWR : O_WRONLY) | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        openError =
            err == EISDIR ? refusal(ENOTTY, "not a terminal") : OpenError{err, std::strerror(err)};
        return false;
    }
    termios found{};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || tcgetattr(fd, &found) != 0) {
        ::close(fd);  // /dev/null and the like: character devices, but no line
        openError = refusal(ENOTTY, "not a terminal");
        return false;
    }
    // Another program's flock (another pellora, a terminal program that locks)
    // or its TIOCEXCL (which failed the open above with EBUSY) means in use.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        openError = err == EWOULDBLOCK ? refusal(EBUSY, "in use by another program")
                                       : OpenError{err, std::strerror(err)};
        return false;
    }
    openError = {};
    handle = fd;
    platform->savedSettings = found;
    platform->pseudoTerminal = isPseudoTerminal(st);
    platform->receive = settings.receive;

    // The settings calls may fail (a pty has no modem lines); none is fatal.
    ioctl(fd, TIOCEXCL);  // no other opener may share the line
    applyLineSettings(fd, found, settings);
    platform->lowLatencySetHere = settings.receive && askLowLatency(fd);
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
    tcflush(fd, TCIFLUSH);  // what came before us was not meant for us
    return true;
}

bool SerialPort::writeByte(std::uint8_t b) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return false;
    }
    // A full output queue means the far end has stopped taking bytes: at 2400
    // baud a real line drains its kernel buffer on its own, key traffic never
    // fills it, and a host that reads nothing loses the byte (EAGAIN) instead
    // of stopping the relay.
    ssize_t n;
    do {
        n = ::write(fdOf(handle), &b, 1);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && meansDeviceGone(errno)) {
        closeLocked();  // a hung-up line or a removed adapter
    }
    return n == 1;
}

std::size_t SerialPort::readAvailable(std::uint8_t* buffer, std::size_t maxBytes) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return 0;
    }
    // With VMIN 0 a hung-up tty reads 0 bytes, just like an idle one, so ask
    // the kernel explicitly whether the line is still there.
    pollfd pfd{fdOf(handle), static_cast<short>(platform->receive ? POLLIN : 0), 0};
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        closeLocked();
        return 0;
    }
    if (!platform->receive) {
        return 0;  // its input is not ours to look at
    }
    const ssize_t n = ::read(fdOf(handle), buffer, maxBytes);
    if (n < 0) {
        if (meansDeviceGone(errno)) {
            closeLocked();
        }
        return 0;
    }
    return static_cast<std::size_t>(n);
}

void SerialPort::closeLocked() {
    if (handle == kInvalidHandle) {
        return;
    }
    const int fd = fdOf(handle);
    // The last bytes (the breaks of held keys) get a moment to go out; then
    // what is still unsent is dropped, or closing would wait for a line whose
    // far end has stopped. A pseudo-terminal has nothing unsent: what was
    // written waits at the far end, where dropping it would lose it.
    if (!platform->pseudoTerminal) {
        drainBriefly(fd);
        tcflush(fd, TCOFLUSH);
    }
    // The line gets back the settings it had before us (a line that hung up
    // refuses, which changes nothing).
    if (platform->lowLatencySetHere) {
        giveBackLowLatency(fd);
        platform->lowLatencySetHere = false;
    }
    tcsetattr(fd, TCSANOW, &platform->savedSettings);
    ioctl(fd, TIOCNXCL);  // leave the line shareable for whoever comes next
    ::close(fd);          // and with it our flock
    handle = kInvalidHandle;
}
