// Port discovery: the present devices of the Ports setup class whose friendly
// name carries a COM port name fill the window's list, at start-up and again
// whenever the window is shown or told of a device change while shown.
#include <windows.h>
// After windows.h, whose types it uses.
#include <setupapi.h>

#include <cwchar>

#include "app/pellora_dlg.h"
#include "io/text_win32.h"

namespace {

// The Ports (COM and LPT) device setup class.
constexpr GUID kPortsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// 256 UTF-16 units, terminator included: longer names do not fit and are skipped.
constexpr DWORD kFriendlyNameBytes = 512;

}  // namespace

void CPelloraDlg::listPorts() {
    freePorts();
    addPort(PortEntry{});  // "(None)"
    const HDEVINFO devices = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        portList.setCurrentSelection(0);
        return;  // no port: at start-up the window reports that none was found
    }

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        wchar_t friendlyName[kFriendlyNameBytes / sizeof(wchar_t)];
        if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                               reinterpret_cast<BYTE*>(friendlyName),
                                               kFriendlyNameBytes, nullptr)) {
            continue;  // no friendly name, or one too long
        }
        // Bounded: a stored value need not carry its terminator.
        const std::size_t length = wcsnlen(friendlyName, std::size(friendlyName));
        if (const auto entry = splitFriendlyName(narrow({friendlyName, length}))) {
            addPort(*entry);
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    portList.setCurrentSelection(0);
}

void CPelloraDlg::refreshPorts() {
    const PortEntry* selected = entryAt(portList.currentSelection());
    const PortEntry kept = selected != nullptr ? *selected : PortEntry{};
    listPorts();
    int position = positionOf(kept);
    if (position < 0) {
        position = positionOf(PortEntry{currentPort, {}});
    }
    portList.setCurrentSelection(position < 0 ? 0 : position);
}

int CPelloraDlg::positionOf(const PortEntry& port) const {
    int sameName = -1;
    for (int i = 0; i < portList.count(); ++i) {
        const PortEntry* entry = entryAt(i);
        if (entry == nullptr || entry->name != port.name) {
            continue;
        }
        if (entry->description == port.description) {
            return i;
        }
        if (sameName < 0) {
            sameName = i;
        }
    }
    return sameName;
}

void CPelloraDlg::freePorts() {
    const int count = portList.count();
    for (int i = 0; i < count; ++i) {
        delete entryAt(i);
    }
    portList.resetContent();
}

void CPelloraDlg::addPort(const PortEntry& entry) {
    // The list sorts its texts itself (CBS_SORT), so the entry's data goes to
    // the position the list chose. "(None)" sorts first: "(" precedes letters.
    const int position = portList.addString(widen(entryText(entry)));
    if (position < 0) {
        return;  // the list refused the text (out of memory)
    }
    portList.setItemData(position, new PortEntry(entry));
}
