// Port discovery through SetupAPI, with fake devices of the Ports class
// registered in the test prefix, read back from the running program's list.
#include <gtest/gtest.h>

#include "desktop.h"
#include "fake_ports.h"
#include "tray_program.h"

namespace {

// A friendly name of exactly `length` UTF-16 units that ends in "(port)".
std::wstring longFriendlyName(std::size_t length, const std::wstring& port) {
    const std::wstring tail = L" (" + port + L")";
    return std::wstring(length - tail.size(), L'x') + tail;
}

// The entries the program lists for the fake devices there are now.
std::vector<std::wstring> listedPorts() {
    TrayProgram program(L"");
    EXPECT_TRUE(program.waitReady());
    const auto entries = comboEntries(program.portList());
    EXPECT_EQ(comboSelectionText(program.portList()), L"(None)");
    EXPECT_TRUE(program.exit());
    return entries;
}

std::vector<std::wstring> listedPorts(const std::vector<std::wstring>& friendlyNames) {
    EXPECT_TRUE(setFakePorts(friendlyNames));
    return listedPorts();
}

TEST(PortDiscovery, NoneFirstThenComPortsInTextOrderWithoutOthers) {
    const auto entries = listedPorts({
        L"USB Serial Device (COM3)",
        L"Printer Port (LPT1)",
        L"Modem (COM12) internal",
        L"Bluetooth Link (COM2)",
        L"Odd Device (com4)",
        L"Broken Device (COM9",
        L"Modem (COM10)",
        L"Twin (COM7) first (COM8)",
    });
    EXPECT_EQ(entries, (std::vector<std::wstring>{
                           L"(None)",
                           L"COM10 - Modem",
                           L"COM12 - Modem  internal",
                           L"COM2 - Bluetooth Link",
                           L"COM3 - USB Serial Device",
                           L"COM7 - Twin  first (COM8)",
                       }));
}

TEST(PortDiscovery, FriendlyNamesLongerThan255UnitsAreSkipped) {
    const auto entries = listedPorts({
        longFriendlyName(255, L"COM20"),
        longFriendlyName(256, L"COM21"),
        L"USB Serial Device (COM3)",
    });
    const std::wstring kept = L"COM20 - " + std::wstring(255 - 8, L'x');
    EXPECT_EQ(entries, (std::vector<std::wstring>{L"(None)", kept, L"COM3 - USB Serial Device"}));
}

TEST(PortDiscovery, PortsAreListedUnderTheNameTheirDriverGaveThem) {
    ASSERT_TRUE(setFakePorts({L"Printer Port (LPT1)"}));
    // A USB CDC device that Windows put among the modems, a friendly name
    // without the port, and one that says another port than its driver.
    ASSERT_TRUE(addFakePort(L"", L"COM5", L"USB Modem", FakeClass::Modem));
    ASSERT_TRUE(addFakePort(L"", L"COM6", L"Arduino Uno"));
    ASSERT_TRUE(addFakePort(L"", L"com7", L"USB Serial Port (COM7)"));
    ASSERT_TRUE(addFakePort(L"", L"COM8", L"Renamed Adapter (COM2)"));
    // A modem behind a port of its own names none: the port is listed itself.
    ASSERT_TRUE(addFakePort(L"", L"", L"Standard Modem (COM1)", FakeClass::Modem));
    EXPECT_EQ(listedPorts(), (std::vector<std::wstring>{
                                 L"(None)", L"COM5 - USB Modem", L"COM6 - Arduino Uno",
                                 L"COM7 - USB Serial Port", L"COM8 - Renamed Adapter (COM2)"}));
    ASSERT_TRUE(setFakePorts({}));
}

TEST(PortDiscovery, TwoDevicesOnOnePortBothGetAnEntry) {
    const auto entries = listedPorts({L"Adapter B (COM5)", L"Adapter A (COM5)"});
    EXPECT_EQ(entries,
              (std::vector<std::wstring>{L"(None)", L"COM5 - Adapter A", L"COM5 - Adapter B"}));
}

}  // namespace
