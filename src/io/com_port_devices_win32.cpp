#include "io/com_port_devices_win32.h"

namespace {

// The Ports (COM and LPT) and Modem device setup classes.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kModemClass = {
    0x4D36E96D, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

}  // namespace

void forEachPortDevice(const std::function<bool(HDEVINFO, SP_DEVINFO_DATA&)>& visit) {
    for (const GUID& deviceClass : {kPortsClass, kModemClass}) {
        const HDEVINFO devices =
            SetupDiGetClassDevsW(&deviceClass, nullptr, nullptr, DIGCF_PRESENT);
        if (devices == INVALID_HANDLE_VALUE) {
            continue;
        }
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        bool more = true;
        for (DWORD i = 0; more && SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
            more = visit(devices, device);
        }
        SetupDiDestroyDeviceInfoList(devices);
        if (!more) {
            return;
        }
    }
}

bool inPortsClass(const SP_DEVINFO_DATA& device) {
    return IsEqualGUID(device.ClassGuid, kPortsClass) != FALSE;
}

std::wstring portNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    const HKEY key =
        SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) {
        return {};
    }
    wchar_t name[64] = {};
    DWORD type = 0;
    DWORD bytes = sizeof(name) - sizeof(wchar_t);  // room for a terminator
    const bool read = RegQueryValueExW(key, L"PortName", nullptr, &type,
                                       reinterpret_cast<BYTE*>(name), &bytes) == ERROR_SUCCESS &&
                      type == REG_SZ;
    RegCloseKey(key);
    return read ? std::wstring(name) : std::wstring();
}
