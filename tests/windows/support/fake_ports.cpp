#include "fake_ports.h"

#include <windows.h>
// After windows.h, whose types it uses.
#include <setupapi.h>

namespace {

constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kModemClass = {
    0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

bool removeAll(const GUID& deviceClass) {
    const HDEVINFO all = SetupDiGetClassDevsW(&deviceClass, nullptr, nullptr, 0);
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
    if (!removeAll(kPortsClass) || !removeAll(kModemClass)) {
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

bool addFakePort(const std::wstring& instanceId, const std::wstring& portName,
                 const std::wstring& friendlyName, FakeClass deviceClass) {
    const GUID& classGuid = deviceClass == FakeClass::Modem ? kModemClass : kPortsClass;
    const HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    const bool generated = instanceId.empty();
    bool ok = SetupDiCreateDeviceInfoW(
                  set,
                  generated ? (deviceClass == FakeClass::Modem ? L"MODEM" : L"PORTS")
                            : instanceId.c_str(),
                  &classGuid, nullptr, nullptr, generated ? DICD_GENERATE_ID : 0, &device) &&
              SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr);
    if (ok && !friendlyName.empty()) {
        ok = SetupDiSetDeviceRegistryPropertyW(
            set, &device, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendlyName.c_str()),
            static_cast<DWORD>((friendlyName.size() + 1) * sizeof(wchar_t)));
    }
    if (ok && !portName.empty()) {
        const HKEY key =
            SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        ok = key != INVALID_HANDLE_VALUE &&
             RegSetValueExW(
                 key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName.c_str()),
                 static_cast<DWORD>((portName.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        if (key != INVALID_HANDLE_VALUE) {
            RegCloseKey(key);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}
