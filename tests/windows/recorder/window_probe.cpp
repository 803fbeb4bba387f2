#include "window_probe.h"

#include <windows.h>

#include <string>
#include <utility>

#include "app/pellora_dlg.h"
#include "probe_ping.h"
#include "record_log.h"
#include "status_script.h"

namespace {

HHOOK hook = nullptr;
HHOOK pingHook = nullptr;
std::function<void(WPARAM, LPARAM)> statusHandler;
std::function<void(int)> tapHandler;

std::string utf8(const wchar_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    return out;
}

// "1:Select COM Port|-|2:Exit": id and text of each item, "-" for a separator.
std::string describeMenu(HMENU menu) {
    std::string out;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            out += '|';
        }
        wchar_t text[128] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = static_cast<UINT>(std::size(text));
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item);
        if ((item.fType & MFT_SEPARATOR) != 0) {
            out += '-';
        } else {
            out += std::to_string(item.wID) + ':' + utf8(text);
        }
    }
    return out;
}

LRESULT CALLBACK probe(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == WM_INITMENUPOPUP) {
            recordEvent("menu " + describeMenu(reinterpret_cast<HMENU>(message->wParam)));
        }
        if (message->message == WM_WINDOWPOSCHANGED && message->hwnd == findMainDialog() &&
            (reinterpret_cast<const WINDOWPOS*>(message->lParam)->flags & SWP_SHOWWINDOW) != 0) {
            recordEvent("shown");
        }
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

LRESULT CALLBACK takeFromQueue(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == probePingMessage()) {
        // What the display told the program meanwhile (a hidden window's loss
        // of the focus, say) is handled before the ping counts as answered:
        // a thread with messages waiting takes such news only when it waits.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
        recordEvent("ping " + std::to_string(message->wParam));
    }
    // Taken from the queue before it is handled: a ping posted once this is
    // recorded comes after the relay has been started, if it is to be.
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_KEYBOARDOPENED) {
        recordEvent("keyboard opened");
    }
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == statusScriptMessage() &&
        statusHandler) {
        statusHandler(message->wParam, message->lParam);
    }
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == shareTapsMessage() &&
        tapHandler) {
        tapHandler(static_cast<int>(message->wParam));
    }
    return CallNextHookEx(pingHook, code, wParam, lParam);
}

}  // namespace

void installWindowProbe(std::function<void(WPARAM, LPARAM)> onStatus,
                        std::function<void(int)> onTaps) {
    statusHandler = std::move(onStatus);
    tapHandler = std::move(onTaps);
    hook = SetWindowsHookExW(WH_CALLWNDPROC, probe, nullptr, GetCurrentThreadId());
    pingHook = SetWindowsHookExW(WH_GETMESSAGE, takeFromQueue, nullptr, GetCurrentThreadId());
}
