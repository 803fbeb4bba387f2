// Fake devices of the Ports setup class in the test's Wine prefix, which has none
// of its own. setFakePorts removes every device of the class and registers one
// present device per friendly name, so each test sees exactly its own list.
#pragma once

#include <string>
#include <vector>

// Returns false (and leaves a partial list) when SetupAPI refuses a step.
bool setFakePorts(const std::vector<std::wstring>& friendlyNames);

// Adds one present device of the class with this device instance ID (one the
// system generates when empty) whose driver has named it portName, as
// Windows' serial drivers do in the device's hardware key.
bool addFakePort(const std::wstring& instanceId, const std::wstring& portName);
