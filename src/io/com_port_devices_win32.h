// The present devices that are COM ports, as the system's device setup lists
// them: those of the Ports class, and those of the Modem class, where Windows
// puts a USB CDC device that says it is a modem (its driver, usbser, gives it
// a COM port all the same). The driver of each names its port in the
// device's hardware key (PortName), whatever its friendly name says.
//
// Only the configuration manager's lists and the registry are read: no
// request goes to any device. Windows only.
#pragma once

#include <windows.h>
// After windows.h, whose types it uses.
#include <setupapi.h>

#include <functional>
#include <string>

// Calls visit for each present device of the Ports class, then of the Modem
// class, while its device set is held (Wine's device nodes live only as long);
// stops when visit returns false.
void forEachPortDevice(const std::function<bool(HDEVINFO, SP_DEVINFO_DATA&)>& visit);

// Whether the device is of the Ports class (COM and LPT ports).
bool inPortsClass(const SP_DEVINFO_DATA& device);

// The name the device's driver gave its port ("COM3", "LPT1"), or empty when
// it gave none.
std::wstring portNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device);
