// InputHooks: the computer's own keyboards and mouse on Windows, taken by
// low-level hooks (WH_KEYBOARD_LL, WH_MOUSE_LL) while they are shared with the
// X68000 (ShareSwitch), for the back-ends that relay them (HookKeyboard,
// HookMouse: the sinks).
//
// The hooks live on a thread of their own with its own message loop, since
// Windows calls a low-level hook by a message to the thread that installed it,
// passes over a hook that has not answered within LowLevelHooksTimeout (at
// most a second) and, from Windows 7 on, silently removes it. A hook
// procedure therefore only decides (HookRouter: pass the event to the
// computer, or stop it and take it for the X68000), hands what the X68000
// takes to its sink under the sink's short lock, and returns; the sinks' wake
// (the relay's worker) and the cursor's moves are done by the thread's loop
// after it. Keys are told by position (scan_code_keys.h). Events made by
// programs (SendInput: LLKHF_INJECTED, LLMHF_INJECTED) pass untouched: only
// the user's hands switch and type.
//
// The mouse: while it belongs to the X68000 the cursor stays where it is
// (every move is stopped) and the motion is each move's point less the point
// the cursor is held at, as Input Leap and lan-mouse take it; the cursor is
// held at the centre of its monitor, so that no screen edge cuts the motion
// short, and goes back to where it was when the mouse comes back. (Wine moves
// its pointer even for a stopped move: there each move is taken from the
// last one's point.) The hook's points are after Windows' pointer
// acceleration. Without a mouse sink the mouse hook only watches: it passes
// everything.
//
// Whether the hooks still see the input: every second the thread compares
// the system's last input (GetLastInputInfo) with the last event its hooks
// saw. Input they did not see means that Windows removed them (a hook late
// once is gone for good) or that the input went where a hook of this process
// cannot see it (another desktop, a window of a program run as
// administrator). While the keyboard belongs to the X68000 that is the end of
// it: the keyboard and the mouse go back to the computer, the sinks are told
// (hooksLost(): the relay tells the user), and the hooks are installed anew.
// On the computer's side the hooks are only installed anew (at most every
// kQuietReinstallMs), so that the switch key is seen again.
//
// Ownership: one per process (the hook procedures have no context of their
// own), made on first use and never destroyed; its thread runs from the first
// attach to the last detach. Threads: attach, detach and lookAtSwitch from any
// thread but the hook thread; the sinks are called on the hook thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "input/hook_router.h"
#include "keyboard/share_switch.h"

class InputHooks {
public:
    // What the keyboard hook hands on, on the hook thread: each must return
    // at once.
    class KeyboardSink {
    public:
        virtual ~KeyboardSink() = default;
        // A key taken for the X68000 (a Linux key code, 0 for none) went down
        // or up; moves: the switch's moves() as the hook saw them.
        virtual void keyTaken(unsigned key, bool down, std::uint64_t moves) = 0;
        // The switch key's first press on the X68000's side, held back at at
        // (the switch's clock).
        virtual void switchKeyHeld(std::uint32_t at, std::uint64_t moves) = 0;
        // The hooks stopped seeing the input; they are installed anew.
        virtual void hooksLost() = 0;
        // After events were handed on: wake whoever takes them.
        virtual void wake() = 0;
    };
    class MouseSink {
    public:
        virtual ~MouseSink() = default;
        // Motion taken for the X68000, in pixels (+x right, +y down).
        virtual void moved(int dx, int dy) = 0;
        // The X68000's buttons as they are now, after a change.
        virtual void buttons(bool left, bool right) = 0;
        // The wheel turned, in WHEEL_DELTA units (120 a notch, + away from the
        // user).
        virtual void wheel(int units) = 0;
        virtual void hooksLost() = 0;
        virtual void wake() = 0;
    };

    // How often the thread compares its hooks' events with the system's input.
    static constexpr UINT kHealthCheckMs = 1000;
    // Input the hooks did not see counts when it came this much after the
    // last they saw (an event's time and the system's last input time may
    // differ a little).
    static constexpr DWORD kMissMarginMs = 500;
    // On the computer's side the hooks are installed anew at most this often.
    static constexpr DWORD kQuietReinstallMs = 10000;

    static InputHooks& instance();

    // Hooks the keyboard (and watches the mouse) for sink, whose keys follow
    // share; a mouse sink attached later must follow the same switch. Starts
    // the hook thread if need be and waits for it. Returns "" when the hooks
    // are in, else the system's words for why not. One keyboard sink at a
    // time.
    std::string attach(KeyboardSink& sink, std::shared_ptr<ShareSwitch> share);
    // Takes the mouse for sink while the switch points to the X68000.
    std::string attach(MouseSink& sink, std::shared_ptr<ShareSwitch> share);
    // Once these return the sink is called no more; the last detach removes
    // the hooks and ends the thread.
    void detach(KeyboardSink& sink);
    void detach(MouseSink& sink);

    // The switch may have moved: the hook thread puts the cursor where it
    // belongs now. Any thread.
    void lookAtSwitch();

    // The hook thread's id, 0 while it does not run.
    DWORD threadId() const;

    struct State;  // the hook thread's own

private:
    InputHooks();

    // Runs call on the hook thread, starting it first if need be, and waits.
    void onHookThread(const std::function<void()>& call);
    void endThreadIfIdle();
    // On the hook thread: place puts a sink in (true) or takes it out again
    // (false, when its hooks cannot be set); remove takes it out.
    std::string attachSink(const std::shared_ptr<ShareSwitch>& share,
                           const std::function<void(State&, bool)>& place);
    void detachSink(const std::function<void(State&)>& remove);

    std::mutex lifeMutex;  // attach and detach, one at a time
    std::thread thread;
    std::unique_ptr<State> state;
};
