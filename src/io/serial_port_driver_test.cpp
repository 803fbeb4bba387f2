// SerialPort against a serial driver that offers low latency: a real pty as
// the line, opened as /dev/ttyUSB7 under umockdev, whose ioctl handler answers
// TIOCGSERIAL and TIOCSSERIAL as a USB serial driver does and passes every
// other ioctl on to the pty.
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

#include "io/serial_port.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using FlagsAndSets = std::pair<int, int>;

// The driver's side, shared with umockdev's thread: its flags, how many
// TIOCSSERIAL it took, and whether it refuses them.
struct Driver {
    std::mutex mutex;
    int flags = 0;
    int sets = 0;
    bool refuseSet = false;

    void reset(int newFlags, bool refuse = false) {
        std::lock_guard lock(mutex);
        flags = newFlags;
        refuseSet = refuse;
    }
    FlagsAndSets flagsAndSets() {
        std::lock_guard lock(mutex);
        return {flags, sets};
    }

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        Driver& d = *static_cast<Driver*>(self);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (request != TIOCGSERIAL && request != TIOCSSERIAL) {
            gint error = 0;  // termios and the rest: the pty's
            const gint result = umockdev_ioctl_client_execute(client, &error, nullptr);
            umockdev_ioctl_client_complete(client, result, error);
            return TRUE;
        }
        UMockdevIoctlData* data = umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client),
                                                              0, sizeof(serial_struct), nullptr);
        serial_struct serial{};
        std::lock_guard lock(d.mutex);
        int error = 0;
        if (request == TIOCGSERIAL) {
            serial.type = PORT_16550A;
            serial.flags = d.flags;
            std::memcpy(data->data, &serial, sizeof serial);
        } else if (d.refuseSet) {
            error = EPERM;
        } else {
            std::memcpy(&serial, data->data, sizeof serial);
            d.flags = serial.flags;
            ++d.sets;
        }
        g_object_unref(data);
        umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
        return TRUE;
    }
};

TEST(SerialPortDriver, TheKeyLineAsksForLowLatencyAndGivesItBackAtClose) {
    EmulatedKeyboard testbed{{.present = false}};
    PtyPair pty;
    Driver driver;
    std::filesystem::create_symlink(pty.slavePath(), testbed.rootDir() + "/dev/ttyUSB7");
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&Driver::onIoctl), &driver);
    ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed.testbed(), "/dev/ttyUSB7", handler, nullptr));
    SerialPort port;

    driver.reset(ASYNC_SKIP_TEST);  // the driver's own flag stays as it is
    ASSERT_TRUE(port.open("ttyUSB7")) << port.lastOpenError().message;
    EXPECT_EQ(driver.flagsAndSets(), FlagsAndSets(ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY, 1));
    termios line{};  // the ioctls passed on reach the pty
    ASSERT_EQ(tcgetattr(pty.masterFd(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B2400);
    port.close();
    EXPECT_EQ(driver.flagsAndSets(), FlagsAndSets(ASYNC_SKIP_TEST, 2));

    // Already on: nothing to change, and nothing to give back. The mouse line
    // receives nothing: its driver is left alone.
    driver.reset(ASYNC_LOW_LATENCY);
    ASSERT_TRUE(port.open("ttyUSB7"));
    port.close();
    driver.reset(0);
    ASSERT_TRUE(port.open("ttyUSB7", LineSettings::mouseLine()));
    port.close();
    EXPECT_EQ(driver.flagsAndSets(), FlagsAndSets(0, 2));

    // A driver that refuses it runs the line all the same.
    driver.reset(0, true);
    ASSERT_TRUE(port.open("ttyUSB7")) << port.lastOpenError().message;
    ASSERT_TRUE(port.writeByte(0x35));
    EXPECT_EQ(pty.read(1), Bytes{0x35});
    port.close();

    umockdev_testbed_detach_ioctl(testbed.testbed(), "/dev/ttyUSB7", nullptr);
    g_object_unref(handler);
}

}  // namespace
