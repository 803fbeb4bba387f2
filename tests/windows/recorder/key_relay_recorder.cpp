// KeyRelay for the test variant of the tray program: the real class interface
// (relay/key_relay.h), linked in place of the real relay, that records each call
// with its argument instead of touching USB or a serial port.
//
// PELLORA_TEST_KEYBOARD=absent makes openKeyboard fail, as with no keyboard
// plugged in; otherwise it succeeds.
#include <windows.h>

#include <utility>

#include "record_log.h"
#include "relay/key_relay.h"
#include "window_probe.h"

KeyRelay::KeyRelay(TickSource tickSource) : ticks(std::move(tickSource)) {
    // Constructed with the window object, on the window thread.
    installWindowProbe();
}

KeyRelay::~KeyRelay() {
    removeWindowProbe();
}

bool KeyRelay::openKeyboard() {
    recordEvent("openKeyboard");
    wchar_t value[16] = {};
    GetEnvironmentVariableW(L"PELLORA_TEST_KEYBOARD", value, 16);
    return std::wstring_view(value) != L"absent";
}

void KeyRelay::closeKeyboard() {
    recordEvent("closeKeyboard");
}

void KeyRelay::start(const std::string& name) {
    recordEvent("start " + name);
    portName = name;
    portState = PortState::Opening;
}

void KeyRelay::stop() {
    recordEvent("stop");
    portState = PortState::Idle;
}

KeyRelay::Status KeyRelay::status() const {
    Status s;
    s.port = portState.load();
    return s;
}
