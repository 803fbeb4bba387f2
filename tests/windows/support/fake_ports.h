// Fake devices of the Ports setup class in the test's Wine prefix, which has none
// of its own. setFakePorts removes every device of the class and registers one
// present device per friendly name, so each test sees exactly its own list.
#pragma once

#include <string>
#include <vector>

// Returns false (and leaves a partial list) when SetupAPI refuses a step.
bool setFakePorts(const std::vector<std::wstring>& friendlyNames);
