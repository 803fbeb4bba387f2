// The test variant's application object: the real CPelloraApp, whose window is
// handed a relay that records each call with its argument instead of touching
// USB or a serial port.
//
// PELLORA_TEST_KEYBOARD=absent makes openKeyboard fail, as with no keyboard
// plugged in; otherwise it succeeds.
#include <windows.h>

#include <functional>
#include <memory>
#include <string_view>

#include "app/pellora_app.h"
#include "record_log.h"
#include "relay/relay_control.h"
#include "window_probe.h"

namespace {

class RecordingRelay final : public RelayControl {
public:
    // Made with the window object, on the window thread.
    RecordingRelay() { installWindowProbe(); }
    ~RecordingRelay() override { removeWindowProbe(); }

    bool openKeyboard() override {
        recordEvent("openKeyboard");
        wchar_t value[16] = {};
        GetEnvironmentVariableW(L"PELLORA_TEST_KEYBOARD", value, 16);
        return std::wstring_view(value) != L"absent";
    }
    void closeKeyboard() override { recordEvent("closeKeyboard"); }
    void start(const std::string& name) override {
        recordEvent("start " + name);
        port = PortState::Opening;
    }
    void stop() override {
        recordEvent("stop");
        port = PortState::Idle;
    }
    RelayStatus status() const override {
        RelayStatus s;
        s.port = port;
        return s;
    }
    void setStatusListener(std::function<void()> callback) override {
        listener = std::move(callback);
    }

private:
    PortState port = PortState::Idle;
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
