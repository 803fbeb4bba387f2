// Fake devices of the Ports and Modem setup classes in the test's Wine prefix,
// which has none of its own. setFakePorts removes every device of both classes
// and registers one present Ports device per friendly name, so each test sees
// exactly its own list.
#pragma once

#include <string>
#include <vector>

// Returns false (and leaves a partial list) when SetupAPI refuses a step.
bool setFakePorts(const std::vector<std::wstring>& friendlyNames);

enum class FakeClass { Ports, Modem };

// Adds one present device of the class with this device instance ID (one the
// system generates when empty) whose driver has named it portName (none when
// empty), as Windows' serial drivers do in the device's hardware key, and
// with this friendly name (none when empty).
bool addFakePort(const std::wstring& instanceId, const std::wstring& portName,
                 const std::wstring& friendlyName = L"", FakeClass deviceClass = FakeClass::Ports);
