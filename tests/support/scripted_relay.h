// A stand-in for the relay engine, for tests of the front-end code that drives
// a RelayControl: it plays back statuses, one per status() call (the last one
// repeating), records what it was asked to do, and counts the worker's passes
// as the test sets them. Threads: the test's own only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "relay/relay_control.h"

class ScriptedRelay : public RelayControl {
public:
    bool keyboardOpens = true;
    SerialPort::OpenError portCheck;       // what checkPort() answers for the key line
    SerialPort::OpenError mousePortCheck;  // and for the mouse's
    std::vector<RelayStatus> script;
    std::vector<std::string> calls;
    std::uint64_t passes = 0;  // what workerPasses() answers
    int wakes = 0;             // wakeWorker() calls

    bool openKeyboard() override {
        calls.push_back("openKeyboard");
        return keyboardOpens;
    }
    void closeKeyboard() override { calls.push_back("closeKeyboard"); }
    void start(const std::string& port) override { calls.push_back("start " + port); }
    SerialPort::OpenError checkPort(const std::string& port,
                                    const LineSettings& settings) override {
        const bool mouseLine = settings == LineSettings::mouseLine();
        calls.push_back("checkPort " + port + (mouseLine ? " (mouse)" : ""));
        return mouseLine ? mousePortCheck : portCheck;
    }
    void stop() override { calls.push_back("stop"); }
    RelayStatus status() const override { return script.at(std::min(next++, script.size() - 1)); }
    void setStatusListener(std::function<void()>) override {}
    void devicesChanged() override {}
    std::uint64_t workerPasses() const override { return passes; }
    void wakeWorker() override { ++wakes; }

private:
    mutable std::size_t next = 0;
};
