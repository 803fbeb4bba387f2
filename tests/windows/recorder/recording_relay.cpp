// The test variant's application object: the real CPelloraApp, whose window is
// handed a relay that records each call with its argument instead of touching
// USB or a serial port.
//
// PELLORA_TEST_KEYBOARD=absent makes openKeyboard fail, as with no keyboard
// plugged in; otherwise it succeeds. Its status follows openKeyboard, start
// (Opening) and stop (Idle) as the engine's does, and whatever a test scripts
// (status_script.h); each change is told to the listener.
#include <windows.h>

#include <functional>
#include <memory>
#include <string_view>

#include "app/pellora_app.h"
#include "io/text_win32.h"
#include "record_log.h"
#include "relay/relay_control.h"
#include "status_script.h"
#include "window_probe.h"

namespace {

class RecordingRelay final : public RelayControl {
public:
    // Made with the window object, on the window thread.
    RecordingRelay() {
        installWindowProbe([this](WPARAM keyboard, LPARAM port) {
            current.keyboard = static_cast<KeyboardState>(LOWORD(keyboard));
            current.keyboardFailure = static_cast<UsbKeyboard::Failure>(HIWORD(keyboard));
            current.port = static_cast<PortState>(LOWORD(port));
            const DWORD error = HIWORD(port);
            current.portError = {static_cast<int>(error),
                                 error != 0 ? narrow(systemMessage(error)) : ""};
            changed();
        });
    }
    ~RecordingRelay() override { removeWindowProbe(); }

    bool openKeyboard() override {
        recordEvent("openKeyboard");
        wchar_t value[16] = {};
        GetEnvironmentVariableW(L"PELLORA_TEST_KEYBOARD", value, 16);
        const bool present = std::wstring_view(value) != L"absent";
        current.keyboard = present ? KeyboardState::Connected : KeyboardState::Absent;
        changed();
        return present;
    }
    void closeKeyboard() override { recordEvent("closeKeyboard"); }
    void start(const std::string& name) override {
        recordEvent("start " + name);
        current.port = PortState::Opening;
        current.portError = {};
        changed();
    }
    void stop() override {
        recordEvent("stop");
        current.port = PortState::Idle;
        current.portError = {};
        changed();
    }
    RelayStatus status() const override { return current; }
    void setStatusListener(std::function<void()> callback) override {
        listener = std::move(callback);
    }
    void devicesChanged() override { recordEvent("devicesChanged"); }
    std::uint64_t workerPasses() const override { return 0; }
    void wakeWorker() override {}

private:
    void changed() {
        ++current.changes;
        if (listener) {
            listener();
        }
    }

    RelayStatus current;
    std::function<void()> listener;
};

class VariantApp final : public CPelloraApp {
protected:
    std::unique_ptr<RelayControl> makeRelay() override {
        return std::make_unique<RecordingRelay>();
    }
};

}  // namespace

VariantApp theApp;
