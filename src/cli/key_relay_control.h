// KeyRelayControl: the program's RelayControl, a KeyRelay it owns and forwards to.
#pragma once

#include "cli/relay_control.h"

class KeyRelayControl final : public RelayControl {
public:
    bool openKeyboard() override { return relay.openKeyboard(); }
    void closeKeyboard() override { relay.closeKeyboard(); }
    void start(const std::string& port) override { relay.start(port); }
    void stop() override { relay.stop(); }
    KeyRelay::Status status() const override { return relay.status(); }

private:
    KeyRelay relay;
};
