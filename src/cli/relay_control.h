// RelayControl: the part of KeyRelay a run of pellora drives. The program
// passes a KeyRelayControl (key_relay_control.h); the run's own tests pass a
// scripted stand-in, so every exit path is tested without a keyboard.
#pragma once

#include <string>

#include "relay/key_relay.h"

class RelayControl {
public:
    virtual ~RelayControl() = default;
    virtual bool openKeyboard() = 0;
    virtual void closeKeyboard() = 0;
    virtual void start(const std::string& port) = 0;
    virtual void stop() = 0;
    virtual KeyRelay::Status status() const = 0;
};
