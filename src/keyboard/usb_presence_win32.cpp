// Win32 back-end of usbDevicePresent: the instance IDs of the USB devices and
// interfaces present (USB\VID_33DD&PID_0011\..., USB\VID_33DD&PID_0011&MI_00\...)
// from the Plug and Play manager's own records.
#include <windows.h>
// After windows.h, whose types it uses.
#include <cfgmgr32.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "io/text_win32.h"
#include "io/usb_instance_id.h"
#include "keyboard/usb_presence.h"

UsbPresence usbDevicePresent(std::uint16_t vendorId, std::uint16_t productId) {
    constexpr ULONG kFlags = CM_GETIDLIST_FILTER_ENUMERATOR | CM_GETIDLIST_FILTER_PRESENT;
    // A device that comes between the size and the list makes the list longer.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ULONG length = 0;
        // A list holds at least its final terminator: a length of 0 comes from
        // a configuration manager that keeps no list (Wine's).
        if (CM_Get_Device_ID_List_SizeW(&length, L"USB", kFlags) != CR_SUCCESS || length == 0) {
            return UsbPresence::Unknown;
        }
        std::wstring list(length, L'\0');
        const CONFIGRET listed = CM_Get_Device_ID_ListW(L"USB", list.data(), length, kFlags);
        if (listed == CR_BUFFER_SMALL) {
            continue;
        }
        if (listed != CR_SUCCESS) {
            return UsbPresence::Unknown;
        }
        // One zero-terminated ID after another, and an empty one at the end.
        for (std::size_t at = 0; at < list.size() && list[at] != L'\0';) {
            const std::size_t end = std::min(list.find(L'\0', at), list.size());
            const std::wstring_view id(list.data() + at, end - at);
            const auto usb = parseUsbInstanceId(narrow(id));
            if (usb && usb->vendorId == vendorId && usb->productId == productId) {
                return UsbPresence::Present;
            }
            at = end + 1;
        }
        return UsbPresence::Absent;
    }
    return UsbPresence::Unknown;
}
