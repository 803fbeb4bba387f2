// Port discovery: the present COM port devices fill the window's list, at
// start-up, whenever the window is shown, and at every device change.
//
// A device is listed under the name its driver gave its port (PortName), so
// that a port whose friendly name does not say "(COMn)" shows too: a USB CDC
// device that Windows puts in the Modem class ("USB Modem"), a driver with a
// name of its own. A Ports device whose driver named no port is listed by its
// friendly name's "(COMn)", as before; a Modem device without one is a modem
// behind another port, which is listed itself.
#include <windows.h>
// After windows.h, whose types it uses.
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cwchar>

#include "app/pellora_dlg.h"
#include "app/resource.h"
#include "app/ui_text.h"
#include "io/com_port_devices_win32.h"
#include "io/text_win32.h"

namespace {

// 256 UTF-16 units, terminator included: longer names do not fit and are skipped.
constexpr DWORD kFriendlyNameBytes = 512;

// A device's friendly name (or, without one, its description); empty when
// it has neither or they do not fit.
std::string deviceName(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    for (const DWORD property : {SPDRP_FRIENDLYNAME, SPDRP_DEVICEDESC}) {
        wchar_t name[kFriendlyNameBytes / sizeof(wchar_t)];
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                              reinterpret_cast<BYTE*>(name), kFriendlyNameBytes,
                                              nullptr)) {
            // Bounded: a stored value need not carry its terminator.
            return narrow({name, wcsnlen(name, std::size(name))});
        }
    }
    return {};
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// The entry of a COM port its driver named: the name upper-cased, as the
// command line's is, and the device's name without the "(COMn)" that
// repeats it.
PortEntry namedPortEntry(std::string portName, const std::string& friendlyName) {
    std::transform(portName.begin(), portName.end(), portName.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    const auto split = splitFriendlyName(friendlyName);
    if (split && sameIgnoringCase(split->name, portName)) {
        return {portName, split->description};
    }
    const auto first = friendlyName.find_first_not_of(" \t");
    const auto last = friendlyName.find_last_not_of(" \t");
    return {portName, first == std::string::npos ? std::string()
                                                 : friendlyName.substr(first, last - first + 1)};
}

bool sameEntry(const PortEntry& a, const PortEntry& b) {
    return a.name == b.name && a.description == b.description;
}

// The entry of a chosen port that is not there now (unplugged, or not yet
// plugged in), listed all the same, so that the window shows the port the
// relay uses or waits for: "COM3 - not present".
PortEntry absentPortEntry(const std::string& name) {
    return {name, uiText(IDS_PORT_NOT_PRESENT)};
}

// What an entry shows: "(None)" for the empty one, else "NAME - DESCRIPTION".
std::wstring listText(const PortEntry& entry) {
    return widen(entry.name.empty() ? uiText(IDS_NO_PORT) : entryText(entry));
}

}  // namespace

std::vector<PortEntry> CPelloraDlg::presentPorts() {
    std::vector<PortEntry> ports{PortEntry{}};  // "(None)"
    forEachPortDevice([&ports](HDEVINFO devices, SP_DEVINFO_DATA& device) {
        const std::string name = deviceName(devices, device);
        const std::string portName = narrow(portNameOf(devices, device));
        if (portName.size() > 3 && sameIgnoringCase(portName.substr(0, 3), "COM")) {
            ports.push_back(namedPortEntry(portName, name));
        } else if (inPortsClass(device) && portName.empty()) {
            if (const auto entry = splitFriendlyName(name)) {
                ports.push_back(*entry);
            }
        }
        return true;
    });
    return ports;
}

void CPelloraDlg::refreshPorts() {
    std::vector<PortEntry> present = presentPorts();
    refreshMousePorts(present);
    currentPortPresent = !currentPort.empty() &&
                         std::any_of(present.begin(), present.end(),
                                     [this](const PortEntry& p) { return p.name == currentPort; });
    if (!currentPort.empty() && !currentPortPresent) {
        present.push_back(absentPortEntry(currentPort));
    }
    const PortEntry* selected = entryAt(portList.currentSelection());
    const PortEntry kept = selected != nullptr ? *selected : PortEntry{};
    bool keptListed = false;
    // In place, so that a list the user has dropped down stays open and the
    // entry under the user's eyes stays where it is: what has gone is taken
    // out (from the end, so the positions still to look at do not move),
    // what has come is added where the sorted list puts it.
    for (int i = portList.count() - 1; i >= 0; --i) {
        PortEntry* entry = entryAt(i);
        const auto still =
            entry == nullptr
                ? present.end()
                : std::find_if(present.begin(), present.end(),
                               [entry](const PortEntry& p) { return sameEntry(p, *entry); });
        if (still != present.end()) {
            present.erase(still);
            keptListed = keptListed || entry == selected;
            continue;
        }
        delete entry;
        portList.deleteString(i);
    }
    for (const PortEntry& entry : present) {
        addPort(entry);
    }
    // The user may be choosing in the shown window: that choice stays while
    // its port is listed, or moves to the entry of the same port (a port
    // that went and came, the entry of a chosen port that went). Hidden, the
    // window shows the chosen port the next time it is shown: the user's
    // last look at the list must not be what OK then decides on.
    const bool shown = IsWindowVisible(hwnd()) != FALSE;
    if (!shown) {
        showSetup();  // what is relayed, as for the port
    }
    if (shown && keptListed) {
        return;
    }
    int position = shown ? positionOf(kept) : -1;
    if (position < 0) {
        position = positionOf(PortEntry{currentPort, {}});  // "(None)" for none
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
    const int position = portList.addString(listText(entry));
    if (position < 0) {
        return;  // the list refused the text (out of memory)
    }
    portList.setItemData(position, new PortEntry(entry));
}

void CPelloraDlg::refreshMousePorts(const std::vector<PortEntry>& present) {
    if (SendMessageW(mousePortList.hwnd(), CB_GETDROPPEDSTATE, 0, 0) != FALSE) {
        return;  // the user is choosing: the next change or showing fills it
    }
    const bool shown = IsWindowVisible(hwnd()) != FALSE;
    const std::string chosen = shown ? selectedMousePort() : setup.mousePort;
    mousePorts = present;  // "(None)" first
    if (!setup.mousePort.empty() &&
        std::none_of(present.begin(), present.end(),
                     [this](const PortEntry& p) { return p.name == setup.mousePort; })) {
        mousePorts.push_back(absentPortEntry(setup.mousePort));
    }
    mousePortList.resetContent();
    int selection = 0;
    for (std::size_t i = 0; i < mousePorts.size(); ++i) {
        const int position = mousePortList.addString(listText(mousePorts[i]));
        if (position < 0) {
            continue;
        }
        mousePortList.setItemData(position, reinterpret_cast<void*>(i + 1));
    }
    for (int i = 0; i < mousePortList.count(); ++i) {
        const auto index = reinterpret_cast<std::size_t>(mousePortList.itemData(i));
        if (index > 0 && mousePorts[index - 1].name == chosen) {
            selection = i;
            break;
        }
    }
    mousePortList.setCurrentSelection(selection);
}

std::string CPelloraDlg::selectedMousePort() const {
    const auto index =
        reinterpret_cast<std::size_t>(mousePortList.itemData(mousePortList.currentSelection()));
    return index > 0 && index <= mousePorts.size() ? mousePorts[index - 1].name : std::string();
}
