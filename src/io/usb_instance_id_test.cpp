#include "io/usb_instance_id.h"

#include <gtest/gtest.h>

namespace {

// What Windows writes is in PortIdentity's tests under Wine; here what it may
// write too: lower case, an interface number past 9.
TEST(UsbInstanceId, IdsInAnyLetterCaseAndInterfacesInHex) {
    const auto second = parseUsbInstanceId("usb\\vid_0403&pid_6010&mi_0a\\6&abc&0&0001");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->vendorId, 0x0403);
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
