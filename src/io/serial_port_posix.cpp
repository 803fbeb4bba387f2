// POSIX back-end of SerialPort: a tty opened raw at 2400 baud 8N1.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/serial_port.h"

namespace {

int fdOf(SerialPort::NativeHandle h) {
    return static_cast<int>(h);
}

// Raw 8N1 at 2400 baud, no flow control of any kind, reads that return at once.
void applyLineSettings(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return;
    }
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B2400);
    cfsetospeed(&tio, B2400);
    tcsetattr(fd, TCSANOW, &tio);
}

bool meansDeviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

}  // namespace

std::string SerialPort::devicePath(const std::string& name) {
    if (!name.empty() && name.front() == '/') {
        return name;
    }
    return "/dev/" + name;
}

bool SerialPort::open(const std::string& name) {
    std::lock_guard lock(mutex);
    closeLocked();

    // Non-blocking from the open on: without CLOCAL yet set, a port with no
    // carrier would block the open itself, and later a host that stops reading
    // would park the worker in write() for good (holding the port's lock, so
    // stop() and status() would wait too).
    const int fd = ::open(devicePath(name).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        openError = {err, std::strerror(err)};
        return false;
    }
    openError = {};
    handle = fd;

    // The settings calls may fail (a pty has no modem lines); none is fatal.
    ioctl(fd, TIOCEXCL);  // no other opener may share the line
    applyLineSettings(fd);
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &lines);
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
    return n == 1;
}

std::size_t SerialPort::readAvailable(std::uint8_t* buffer, std::size_t maxBytes) {
    std::lock_guard lock(mutex);
    if (handle == kInvalidHandle) {
        return 0;
    }
    // With VMIN 0 a hung-up tty reads 0 bytes, just like an idle one, so ask
    // the kernel explicitly whether the line is still there.
    pollfd pfd{fdOf(handle), POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        closeLocked();
        return 0;
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
    ioctl(fdOf(handle), TIOCNXCL);  // leave the line shareable for whoever comes next
    ::close(fdOf(handle));
    handle = kInvalidHandle;
}
