#include "input/input_hooks_win32.h"

#include <future>
#include <system_error>
#include <utility>

#include "input/scan_code_keys.h"

namespace {

// The hook thread's own messages (it has no window: PostThreadMessage).
constexpr UINT kCallMessage = WM_APP + 1;  // lParam: a Call; run it, then set its event
constexpr UINT kWakeMessage = WM_APP + 2;  // wake the sinks that were handed events
constexpr UINT kLookMessage = WM_APP + 3;  // the switch may have moved: the cursor follows

struct Call {
    const std::function<void()>* function;
    HANDLE done;
};

std::string systemWords(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    for (DWORD i = 0; i < length && text != nullptr; ++i) {
        // The system's messages in this use are ASCII; anything else is dropped.
        if (text[i] >= 0x20 && text[i] < 0x7F) {
            out += static_cast<char>(text[i]);
        }
    }
    LocalFree(text);
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out.empty() ? "error " + std::to_string(code) : out;
}

}  // namespace

struct InputHooks::State {
    std::atomic<DWORD> threadId{0};
    HANDLE callDone = CreateEventW(nullptr, FALSE, FALSE, nullptr);

    // The rest is the hook thread's own.
    HHOOK keyboardHook = nullptr;
    HHOOK mouseHook = nullptr;
    KeyboardSink* keyboard = nullptr;
    MouseSink* mouse = nullptr;
    std::shared_ptr<ShareSwitch> share;
    std::unique_ptr<HookRouter> router;
    std::uint64_t movesSeen = 0;

    bool wakePosted = false;
    bool keyboardWake = false;
    bool mouseWake = false;
    bool lookPosted = false;

    UINT_PTR healthTimer = 0;
    DWORD lastSeen = 0;  // the time of the last event the hooks saw, or of their install
    DWORD lastQuietReinstall = 0;

    // The mouse: whether it is held for the X68000 now, the point the motion
    // is taken from (where the cursor is held; under Wine the last point),
    // where the cursor was before, and the X68000's buttons.
    bool mouseTaken = false;
    POINT from{};
    POINT saved{};
    bool left = false;
    bool right = false;

    std::string setHooks();
    void removeHooks();
    void reinstall();
    void post(UINT message, bool& posted);
    void requestWake(bool& which);
    void handle(const MSG& message);
    void followSwitch();
    void checkHealth();
    void noteMoves();
    bool takeKey(const KBDLLHOOKSTRUCT& info);
    bool takeMouse(WPARAM message, const MSLLHOOKSTRUCT& info);
};

namespace {

// The running hook thread's state, for the hook procedures, which have no
// context of their own; touched on that thread only.
InputHooks::State* hookState = nullptr;

// Whether the pointer moves for a move a hook stopped: Windows keeps the
// cursor where it was, Wine moves its X pointer all the same (and tells the
// next move from there), so there the motion is taken from point to point.
bool pointerMovesWhenStopped() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

LRESULT CALLBACK keyboardProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && hookState != nullptr &&
        hookState->takeKey(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam))) {
        return 1;  // stopped: no other hook, no window gets it
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK mouseProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && hookState != nullptr &&
        hookState->takeMouse(wParam, *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam))) {
        return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

std::string InputHooks::State::setHooks() {
    const HINSTANCE module = GetModuleHandleW(nullptr);
    if (keyboard != nullptr && keyboardHook == nullptr) {
        keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, keyboardProc, module, 0);
        if (keyboardHook == nullptr) {
            return systemWords(GetLastError());
        }
    }
    if (keyboard == nullptr && keyboardHook != nullptr) {
        UnhookWindowsHookEx(keyboardHook);
        keyboardHook = nullptr;
    }
    // The mouse hook also watches for a keyboard alone: input it did not
    // see tells of hooks gone (checkHealth()).
    const bool mouseWanted = keyboard != nullptr || mouse != nullptr;
    if (mouseWanted && mouseHook == nullptr) {
        mouseHook = SetWindowsHookExW(WH_MOUSE_LL, mouseProc, module, 0);
        if (mouseHook == nullptr) {
            return systemWords(GetLastError());
        }
    }
    if (!mouseWanted && mouseHook != nullptr) {
        UnhookWindowsHookEx(mouseHook);
        mouseHook = nullptr;
    }
    const bool any = keyboardHook != nullptr || mouseHook != nullptr;
    if (any && healthTimer == 0) {
        lastSeen = GetTickCount();
        healthTimer = SetTimer(nullptr, 0, kHealthCheckMs, nullptr);
    } else if (!any && healthTimer != 0) {
        KillTimer(nullptr, healthTimer);
        healthTimer = 0;
    }
    return {};
}

void InputHooks::State::removeHooks() {
    for (HHOOK* hook : {&keyboardHook, &mouseHook}) {
        if (*hook != nullptr) {
            // A hook Windows removed already is refused here: nothing to do.
            UnhookWindowsHookEx(*hook);
            *hook = nullptr;
        }
    }
}

void InputHooks::State::reinstall() {
    removeHooks();
    // Releases missed meanwhile would leave keys taken as down.
    if (router) {
        router->reset();
    }
    setHooks();
    lastSeen = GetTickCount();
}

void InputHooks::State::post(UINT message, bool& posted) {
    if (!posted) {
        posted = PostThreadMessageW(GetCurrentThreadId(), message, 0, 0) != FALSE;
    }
}

void InputHooks::State::requestWake(bool& which) {
    which = true;
    post(kWakeMessage, wakePosted);
}

void InputHooks::State::noteMoves() {
    if (const std::uint64_t moves = share->moves(); moves != movesSeen) {
        movesSeen = moves;
        post(kLookMessage, lookPosted);
    }
}

bool InputHooks::State::takeKey(const KBDLLHOOKSTRUCT& info) {
    lastSeen = info.time;
    if (keyboard == nullptr || (info.flags & LLKHF_INJECTED) != 0) {
        return false;
    }
    const bool extended = (info.flags & LLKHF_EXTENDED) != 0;
    const bool down = (info.flags & LLKHF_UP) == 0;
    const unsigned key = keyAtScanCode(info.scanCode, extended);
    const HookRouter::KeyFate fate = router->key(keyPosition(info.scanCode, extended), key, down);
    noteMoves();
    switch (fate) {
        case HookRouter::KeyFate::Pass:
            return false;
        case HookRouter::KeyFate::Take:
            keyboard->keyTaken(key, down, movesSeen);
            requestWake(keyboardWake);
            return true;
        case HookRouter::KeyFate::Hold:
            keyboard->switchKeyHeld(share->now(), movesSeen);
            requestWake(keyboardWake);
            return true;
        case HookRouter::KeyFate::Drop:
            break;
    }
    return true;
}

bool InputHooks::State::takeMouse(WPARAM message, const MSLLHOOKSTRUCT& info) {
    lastSeen = info.time;
    if (mouse == nullptr || (info.flags & LLMHF_INJECTED) != 0) {
        return false;
    }
    noteMoves();
    const bool toX68000 = router->mouseToX68000();
    if (toX68000 != mouseTaken) {
        post(kLookMessage, lookPosted);  // the loop takes the cursor, or gives it back
    }
    HookRouter::Button button = HookRouter::Button::Left;
    bool down = false;
    switch (message) {
        case WM_MOUSEMOVE:
            if (!toX68000 && !mouseTaken) {
                return false;
            }
            if (toX68000 && mouseTaken) {
                const int dx = info.pt.x - from.x;
                const int dy = info.pt.y - from.y;
                if (pointerMovesWhenStopped()) {
                    from = info.pt;
                }
                if (dx != 0 || dy != 0) {
                    mouse->moved(dx, dy);
                }
            }
            // Between the switch and the loop's following it the cursor
            // stays too.
            return true;
        case WM_MOUSEWHEEL:
            if (!toX68000) {
                return false;
            }
            mouse->wheel(static_cast<short>(HIWORD(info.mouseData)));
            requestWake(mouseWake);
            return true;
        case WM_MOUSEHWHEEL:
            return toX68000;  // the X68000 has no place for it
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            button = HookRouter::Button::Left;
            down = message == WM_LBUTTONDOWN;
            break;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONUP:
            button = HookRouter::Button::Right;
            down = message == WM_RBUTTONDOWN;
            break;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONUP:
            button = HookRouter::Button::Middle;
            down = message == WM_MBUTTONDOWN;
            break;
        case WM_XBUTTONDOWN:
        case WM_XBUTTONUP:
            button = HIWORD(info.mouseData) == XBUTTON2 ? HookRouter::Button::X2
                                                        : HookRouter::Button::X1;
            down = message == WM_XBUTTONDOWN;
            break;
        default:
            return false;
    }
    if (router->buttonPasses(button, down)) {
        return false;
    }
    if (button == HookRouter::Button::Left) {
        left = down;
    } else if (button == HookRouter::Button::Right) {
        right = down;
    } else {
        return true;  // no place on the X68000's mouse
    }
    // No wake: the host's next request takes the buttons as they are.
    mouse->buttons(left, right);
    return true;
}

void InputHooks::State::followSwitch() {
    const bool want = mouse != nullptr && router && router->mouseToX68000();
    if (want == mouseTaken) {
        return;
    }
    mouseTaken = want;
    if (!want) {
        left = right = false;
        SetCursorPos(saved.x, saved.y);
        return;
    }
    GetCursorPos(&saved);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromPoint(saved, MONITOR_DEFAULTTONEAREST), &monitor)) {
        from = {(monitor.rcMonitor.left + monitor.rcMonitor.right) / 2,
                (monitor.rcMonitor.top + monitor.rcMonitor.bottom) / 2};
    } else {
        from = saved;
    }
    SetCursorPos(from.x, from.y);
}

void InputHooks::State::checkHealth() {
    LASTINPUTINFO last{};
    last.cbSize = sizeof(last);
    if (!router || !GetLastInputInfo(&last) ||
        static_cast<LONG>(last.dwTime - lastSeen) <= static_cast<LONG>(kMissMarginMs)) {
        return;
    }
    const DWORD now = GetTickCount();
    if (share->side() == ShareSwitch::Side::X68000) {
        // The keys go where the hooks cannot follow: they are the computer's.
        share->toComputer();
        if (keyboard != nullptr) {
            keyboard->hooksLost();
            requestWake(keyboardWake);
        }
        if (mouse != nullptr) {
            mouse->hooksLost();
            requestWake(mouseWake);
        }
    } else if (now - lastQuietReinstall < kQuietReinstallMs) {
        lastSeen = last.dwTime;  // this miss is known
        return;
    } else {
        lastQuietReinstall = now;
    }
    reinstall();
    lastSeen = last.dwTime;
    followSwitch();
}

void InputHooks::State::handle(const MSG& message) {
    switch (message.message) {
        case kCallMessage: {
            const auto* call = reinterpret_cast<const Call*>(message.lParam);
            (*call->function)();
            SetEvent(call->done);
            return;
        }
        case kWakeMessage:
            wakePosted = false;
            if (keyboardWake && keyboard != nullptr) {
                keyboard->wake();
            }
            if (mouseWake && mouse != nullptr) {
                mouse->wake();
            }
            keyboardWake = mouseWake = false;
            return;
        case kLookMessage:
            lookPosted = false;
            followSwitch();
            return;
        case WM_TIMER:
            if (message.hwnd == nullptr && message.wParam == healthTimer) {
                checkHealth();
            }
            return;
        default:
            return;
    }
}

InputHooks::InputHooks() : state(std::make_unique<State>()) {}

InputHooks& InputHooks::instance() {
    // Never destroyed: the process may end with the thread running (an exit
    // that does not wait for a relay stuck in a device).
    static InputHooks* const hooks = new InputHooks();
    return *hooks;
}

DWORD InputHooks::threadId() const {
    return state->threadId.load();
}

void InputHooks::onHookThread(const std::function<void()>& call) {
    if (!thread.joinable()) {
        std::promise<void> started;
        thread = std::thread([this, &started] {
            MSG message;
            // Makes the thread's message queue before anyone posts to it.
            PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
            // It does nothing but answer the hooks, which Windows waits for.
            SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
            hookState = state.get();
            state->threadId = GetCurrentThreadId();
            started.set_value();
            while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                state->handle(message);
            }
            state->removeHooks();
            hookState = nullptr;
            state->threadId = 0;
        });
        started.get_future().wait();
    }
    const Call request{&call, state->callDone};
    while (PostThreadMessageW(state->threadId, kCallMessage, 0,
                              reinterpret_cast<LPARAM>(&request)) == FALSE) {
        Sleep(10);  // a full queue (10000 messages) empties
    }
    WaitForSingleObject(state->callDone, INFINITE);
}

void InputHooks::endThreadIfIdle() {
    bool idle = false;
    onHookThread([&] { idle = state->keyboard == nullptr && state->mouse == nullptr; });
    if (idle) {
        PostThreadMessageW(state->threadId, WM_QUIT, 0, 0);
        thread.join();
    }
}

std::string InputHooks::attachSink(const std::shared_ptr<ShareSwitch>& share,
                                   const std::function<void(State&, bool)>& place) {
    std::lock_guard lock(lifeMutex);
    std::string error;
    onHookThread([&] {
        State& s = *state;
        if (!s.router || s.share != share) {
            s.share = share;
            s.router = std::make_unique<HookRouter>(s.share);
            s.movesSeen = s.share->moves();
        }
        place(s, true);
        error = s.setHooks();
        if (!error.empty()) {
            place(s, false);
            s.setHooks();
        }
        s.followSwitch();  // a mouse taken while the switch points to the X68000
    });
    if (!error.empty()) {
        endThreadIfIdle();
    }
    return error;
}

void InputHooks::detachSink(const std::function<void(State&)>& remove) {
    std::lock_guard lock(lifeMutex);
    if (!thread.joinable()) {
        return;
    }
    onHookThread([&] {
        remove(*state);
        state->followSwitch();  // the cursor back where it was, if it was held
        state->setHooks();
    });
    endThreadIfIdle();
}

std::string InputHooks::attach(KeyboardSink& sink, std::shared_ptr<ShareSwitch> share) {
    return attachSink(share, [&](State& s, bool on) { s.keyboard = on ? &sink : nullptr; });
}

std::string InputHooks::attach(MouseSink& sink, std::shared_ptr<ShareSwitch> share) {
    return attachSink(share, [&](State& s, bool on) {
        s.mouse = on ? &sink : nullptr;
        s.left = s.right = false;
    });
}

void InputHooks::detach(KeyboardSink& sink) {
    detachSink([&](State& s) {
        if (s.keyboard == &sink) {
            s.keyboard = nullptr;
            s.keyboardWake = false;
        }
    });
}

void InputHooks::detach(MouseSink& sink) {
    detachSink([&](State& s) {
        if (s.mouse == &sink) {
            s.mouse = nullptr;
            s.mouseWake = false;
        }
    });
}

void InputHooks::lookAtSwitch() {
    if (const DWORD id = state->threadId.load(); id != 0) {
        PostThreadMessageW(id, kLookMessage, 0, 0);
    }
}
