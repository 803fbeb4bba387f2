#include "io/usb_instance_id.h"

#include <gtest/gtest.h>

namespace {

TEST(UsbInstanceId, DevicesAndInterfacesInAnyLetterCase) {
    const auto ftdi = parseUsbInstanceId("USB\\VID_0403&PID_6001\\A1B2C3");
    ASSERT_TRUE(ftdi);
    EXPECT_EQ(ftdi->vendorId, 0x0403);
    EXPECT_EQ(ftdi->productId, 0x6001);
    EXPECT_FALSE(ftdi->interfaceNumber);
    EXPECT_EQ(ftdi->instance, "A1B2C3");
    EXPECT_TRUE(ftdi->instanceIsSerial());

    const auto ch340 = parseUsbInstanceId("usb\\vid_1a86&pid_7523\\5&2b3c&0&1");
    ASSERT_TRUE(ch340);
    EXPECT_EQ(ch340->vendorId, 0x1A86);
    EXPECT_EQ(ch340->productId, 0x7523);
    EXPECT_FALSE(ch340->instanceIsSerial()) << "made up from where it is plugged in";

    const auto second = parseUsbInstanceId("USB\\VID_0403&PID_6010&MI_0A\\6&ABC&0&0001");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->interfaceNumber, 10u);
    EXPECT_FALSE(second->instanceIsSerial());
}

TEST(UsbInstanceId, OtherEnumeratorsAndMalformedIdsAreNotUsb) {
    for (const char* id :
         {"FTDIBUS\\VID_0403+PID_6001+A1B2C3A\\0000", "ROOT\\PORTS\\0000", "ACPI\\PNP0501\\1",
          "USB\\ROOT_HUB30\\4&1A2B&0&0", "USB\\VID_04G3&PID_6001\\A1", "USB\\VID_0403&PID_601\\A1",
          "USB\\VID_0403&PID_6001", "USB\\VID_0403&PID_6001\\A\\B", "USB"}) {
        EXPECT_FALSE(parseUsbInstanceId(id)) << id;
    }
}

}  // namespace
