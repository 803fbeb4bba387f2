// The test variant's application object: the real CPelloraApp, whose window is
// handed a relay that records each call with its argument instead of touching
// USB or a serial port.
//
// PELLORA_TEST_KEYBOARD makes openKeyboard find the keyboard "absent" (not
// plugged in), "refused" (no access to it), or never return ("hang", as
// libusb behind a hub that does not answer); otherwise it is connected.
// PELLORA_TEST_START makes start throw as the engine's does when no thread
// can be had ("fail"), or never return ("hang", as a stop that waits for a
// worker stuck in libusb). Its status follows openKeyboard, start (Opening)
// and stop (Idle) as the engine's does, and whatever a test scripts
// (status_script.h); each change is told to the listener.
//
// PELLORA_TEST_REFUSE_TRAY_ADDS=N makes the shell refuse the program's first N
// NIM_ADD requests, as a taskbar that Explorer is still making at sign-in does.
//
// Each relay the window makes is recorded ("make keyboard", "make share
// mouse=COM10 switch=70 layout=jis"); one made to share this computer's
// keyboard has a real ShareSwitch, which the test moves by taps
// (status_script.h) and whose side the status tells, as the engine's does.
// The status scripts and taps go to the relay made last.
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>

#include "app/pellora_app.h"
#include "import_patch.h"
#include "input/keymap_file.h"
#include "io/text_win32.h"
#include "record_log.h"
#include "relay/relay_control.h"
#include "status_script.h"
#include "window_probe.h"

namespace {

std::wstring environment(const wchar_t* name) {
    wchar_t value[16] = {};
    GetEnvironmentVariableW(name, value, 16);
    return value;
}

decltype(&Shell_NotifyIconW) shellNotifyIcon = nullptr;
LONG trayAddsToRefuse = 0;

BOOL WINAPI notifyIconRefusingAdds(DWORD message, PNOTIFYICONDATAW data) {
    if (message == NIM_ADD && InterlockedDecrement(&trayAddsToRefuse) >= 0) {
        return FALSE;
    }
    return shellNotifyIcon(message, data);
}

void refuseFirstTrayAdds() {
    trayAddsToRefuse = _wtoi(environment(L"PELLORA_TEST_REFUSE_TRAY_ADDS").c_str());
    if (trayAddsToRefuse > 0) {
        shellNotifyIcon = reinterpret_cast<decltype(&Shell_NotifyIconW)>(replaceImport(
            "SHELL32.dll", "Shell_NotifyIconW", reinterpret_cast<void*>(&notifyIconRefusingAdds)));
    }
}

class RecordingRelay;

// The relay made last, for the status scripts and taps.
std::mutex latestMutex;
RecordingRelay* latest = nullptr;  // guarded by latestMutex

class RecordingRelay final : public RelayControl {
public:
    // The first is made on the window thread, where the probe goes; the
    // later ones on the thread of the window's relay calls.
    explicit RecordingRelay(std::shared_ptr<ShareSwitch> shared) : share(std::move(shared)) {
        static bool probed = false;
        if (!probed) {
            probed = true;
            refuseFirstTrayAdds();
            installWindowProbe([](WPARAM keyboard, LPARAM port) { toLatest(keyboard, port); },
                               [](int taps) { tapLatest(taps); });
        }
        if (share) {
            current.keyboards.push_back(KeyboardStatus{KeyboardState::Connected, {}, {}});
            current.share = share->side();
            share->setListener([this] {
                std::unique_lock lock(mutex);
                current.share = share->side();
                changed(lock);
            });
        }
        std::lock_guard lock(latestMutex);
        latest = this;
    }
    ~RecordingRelay() override {
        if (share) {
            share->setListener({});
        }
        std::lock_guard lock(latestMutex);
        if (latest == this) {
            latest = nullptr;
        }
    }

    static void toLatest(WPARAM keyboard, LPARAM port) {
        std::lock_guard lock(latestMutex);
        if (latest != nullptr) {
            latest->script(keyboard, port);
        }
    }
    static void tapLatest(int taps) {
        std::lock_guard lock(latestMutex);
        if (latest != nullptr && latest->share) {
            for (int i = 0; i < taps; ++i) {
                latest->share->tapped();
            }
        }
    }

    void script(WPARAM keyboard, LPARAM port) {
        std::unique_lock lock(mutex);
        // A keyboard state above Refused scripts the shared keyboard's (the
        // second's) instead: state - 3.
        const auto state = LOWORD(keyboard);
        KeyboardStatus& k =
            state >= 3 && current.keyboards.size() > 1 ? current.keyboards[1] : current.keyboard();
        k.state = static_cast<KeyboardState>(state >= 3 ? state - 3 : state);
        k.failure = static_cast<KeyboardConnection::Failure>(HIWORD(keyboard));
        current.port = static_cast<PortState>(LOWORD(port));
        const DWORD error = HIWORD(port);
        current.portError = {static_cast<int>(error),
                             error != 0 ? narrow(systemMessage(error)) : ""};
        changed(lock);
    }

    bool openKeyboard() override {
        recordEvent("openKeyboard");
        const std::wstring keyboard = environment(L"PELLORA_TEST_KEYBOARD");
        if (keyboard == L"hang") {
            Sleep(INFINITE);
        }
        std::unique_lock lock(mutex);
        current.keyboard().state = keyboard == L"absent"    ? KeyboardState::Absent
                                   : keyboard == L"refused" ? KeyboardState::Refused
                                                            : KeyboardState::Connected;
        current.keyboard().failure = keyboard == L"refused"
                                         ? KeyboardConnection::Failure::NoPermission
                                         : KeyboardConnection::Failure::None;
        changed(lock);
        return current.keyboard().state == KeyboardState::Connected;
    }
    void closeKeyboard() override { recordEvent("closeKeyboard"); }
    void start(const std::string& name) override {
        recordEvent("start " + name);
        const std::wstring start = environment(L"PELLORA_TEST_START");
        if (start == L"hang") {
            Sleep(INFINITE);
        }
        std::unique_lock lock(mutex);
        current.port = PortState::Opening;
        current.portError = {};
        changed(lock);
        if (start == L"fail") {
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        }
    }
    void stop() override {
        recordEvent("stop");
        if (share) {
            share->toComputer();  // as the engine's stop does
        }
        std::unique_lock lock(mutex);
        current.port = PortState::Idle;
        current.portError = {};
        changed(lock);
    }
    RelayStatus status() const override {
        std::lock_guard lock(mutex);
        return current;
    }
    void setStatusListener(std::function<void()> callback) override {
        listener = std::move(callback);
    }
    void devicesChanged() override { recordEvent("devicesChanged"); }
    std::uint64_t workerPasses() const override { return 0; }
    void wakeWorker() override {}

private:
    // Tells the listener without the lock, as the engine does.
    void changed(std::unique_lock<std::mutex>& lock) {
        ++current.changes;
        lock.unlock();
        if (listener) {
            listener();
        }
    }

    // The window's calls write the status on a thread of their own, the
    // window's status scripts on the window thread.
    const std::shared_ptr<ShareSwitch> share;
    mutable std::mutex mutex;
    RelayStatus current;  // guarded by mutex
    std::function<void()> listener;
};

class VariantApp final : public CPelloraApp {
protected:
    MadeRelay makeRelay(const RelaySetup& setup) override {
        if (!setup.share) {
            recordEvent("make keyboard");
            return {std::make_shared<RecordingRelay>(nullptr), nullptr};
        }
        recordEvent("make share mouse=" + setup.mousePort + " switch=" +
                    std::to_string(setup.switchKey) + " layout=" + layoutName(setup.layout));
        auto share = std::make_shared<ShareSwitch>(setup.switchKey, keyCalled(setup.switchKey));
        return {std::make_shared<RecordingRelay>(share), share};
    }
};

}  // namespace

VariantApp theApp;
