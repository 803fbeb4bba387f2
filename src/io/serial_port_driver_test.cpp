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

#include "io/serial_port.h"
#include "support/pty_pair.h"
#include "usb/emulated_keyboard.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The driver's side: its flags, and what it refuses.
struct Driver {
    std::mutex mutex;
    int flags = 0;
    int sets = 0;  // TIOCSSERIAL taken
    bool refuseSet = false;

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        Driver& d = *static_cast<Driver*>(self);
        const unsigned long request = umockdev_ioctl_client_get_request(client);
        if (request != TIOCGSERIAL && request != TIOCSSERIAL) {
            gint error = 0;
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
            serial.baud_base = 48000000 / 16;
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

class SerialPortDriver : public ::testing::Test {
protected:
    SerialPortDriver() {
        std::filesystem::create_symlink(pty.slavePath(), testbed.rootDir() + "/dev/ttyUSB7");
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(&Driver::onIoctl), &driver);
        EXPECT_TRUE(
            umockdev_testbed_attach_ioctl(testbed.testbed(), "/dev/ttyUSB7", handler, nullptr));
    }
    ~SerialPortDriver() override {
        umockdev_testbed_detach_ioctl(testbed.testbed(), "/dev/ttyUSB7", nullptr);
        g_object_unref(handler);
    }

    int flags() {
        std::lock_guard lock(driver.mutex);
        return driver.flags;
    }
    void setFlags(int flags) {
        std::lock_guard lock(driver.mutex);
        driver.flags = flags;
    }
    int sets() {
        std::lock_guard lock(driver.mutex);
        return driver.sets;
    }

    EmulatedKeyboard testbed{{.present = false}};
    PtyPair pty;
    Driver driver;
    UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
    SerialPort port;
};

TEST_F(SerialPortDriver, TheKeyLineAsksForLowLatencyAndGivesItBackAtClose) {
    setFlags(ASYNC_SKIP_TEST);  // the driver's own flag stays as it is
    ASSERT_TRUE(port.open("ttyUSB7")) << port.lastOpenError().message;
    EXPECT_EQ(flags(), ASYNC_SKIP_TEST | ASYNC_LOW_LATENCY);
    termios line{};  // the ioctls passed on reach the pty
    ASSERT_EQ(tcgetattr(pty.masterFd(), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), B2400);
    ASSERT_TRUE(port.writeByte(0x1E));
    EXPECT_EQ(pty.read(1), Bytes{0x1E});
    port.close();
    EXPECT_EQ(flags(), ASYNC_SKIP_TEST);

    // Already on: nothing to change, and nothing to give back.
    setFlags(ASYNC_LOW_LATENCY);
    ASSERT_TRUE(port.open("ttyUSB7"));
    port.close();
    EXPECT_EQ(flags(), ASYNC_LOW_LATENCY);
    EXPECT_EQ(sets(), 2);

    // The mouse line receives nothing, so its driver is left alone.
    setFlags(0);
    ASSERT_TRUE(port.open("ttyUSB7", LineSettings::mouseLine()));
    port.close();
    EXPECT_EQ(sets(), 2);
}

TEST_F(SerialPortDriver, ADriverThatRefusesLowLatencyStillRunsTheLine) {
    {
        std::lock_guard lock(driver.mutex);
        driver.refuseSet = true;
    }
    ASSERT_TRUE(port.open("ttyUSB7")) << port.lastOpenError().message;
    EXPECT_EQ(flags(), 0);
    ASSERT_TRUE(port.writeByte(0x35));
    EXPECT_EQ(pty.read(1), Bytes{0x35});
}

}  // namespace
