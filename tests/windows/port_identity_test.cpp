// Which USB adapter a COM port is, read from fake devices of the Ports class in
// the test prefix. Wine's configuration manager has no device tree
// (CM_Get_Parent fails), so only ports that are USB devices or interfaces
// themselves can be shown here, not the walk up to a parent.
#include <windows.h>

#include <gtest/gtest.h>

#include "fake_ports.h"
#include "io/port_identity.h"

namespace {

TEST(PortIdentity, UsbPortsAreKnownByTheirIdsAndOthersAreNot) {
    ASSERT_TRUE(setFakePorts({}));
    ASSERT_TRUE(addFakePort(L"USB\\VID_2341&PID_0043\\75735323", L"COM7"));
    ASSERT_TRUE(addFakePort(L"USB\\VID_1A86&PID_7523\\5&2B3C&0&1", L"COM8"));
    ASSERT_TRUE(addFakePort(L"USB\\VID_0403&PID_6010&MI_01\\6&ABC&0&0001", L"COM9"));
    ASSERT_TRUE(addFakePort(L"", L"COM10"));  // ROOT\PORTS\...: no USB device

    const auto serialNumbered = identifyPort("COM7");
    ASSERT_TRUE(serialNumbered);
    EXPECT_EQ(*serialNumbered, (PortIdentity{"2341", "0043", "75735323", ""}));
    EXPECT_EQ(identityText(*serialNumbered), "2341:0043 serial 75735323");
    // Windows made the instance up: no serial number. Names in any case.
    EXPECT_EQ(identifyPort("com8"), (PortIdentity{"1a86", "7523", "", ""}));
    const auto second = identifyPort("COM9");
    EXPECT_EQ(second, (PortIdentity{"0403", "6010", "", "01"}));
    EXPECT_EQ(identityText(second.value_or(PortIdentity{})), "0403:6010 interface 01");

    // A USB CDC device among the modems.
    ASSERT_TRUE(
        addFakePort(L"USB\\VID_2E8A&PID_000A\\E6614C31", L"COM12", L"USB Modem", FakeClass::Modem));
    EXPECT_EQ(identifyPort("COM12"), (PortIdentity{"2e8a", "000a", "E6614C31", ""}));

    EXPECT_FALSE(identifyPort("COM10"));
    EXPECT_FALSE(identifyPort("COM11"));
    ASSERT_TRUE(setFakePorts({}));
}

}  // namespace
