#include "fake_ports.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <setupapi.h>

namespace {

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool removeAllPorts() {
    const HDEVINFO all = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, 0);
    if (all == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD i = 0; SetupDiEnumDeviceInfo(all, i, &device); ++i) {
        ok = SetupDiRemoveDevice(all, &device) && ok;
    }
    SetupDiDestroyDeviceInfoList(all);
    return ok;
}

}  // namespace

bool setFakePorts(const std::vector<std::wstring>& friendlyNames) {
    if (!removeAllPorts()) {
        return false;
    }
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    for (const std::wstring& name : friendlyNames) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        ok = ok &&
             SetupDiCreateDeviceInfoW(set, L"PORTS", &kPortsClass, nullptr, nullptr,
                                      DICD_GENERATE_ID, &device) &&
             SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr) &&
             SetupDiSetDeviceRegistryPropertyW(
                 set, &device, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(name.c_str()),
                 static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}
