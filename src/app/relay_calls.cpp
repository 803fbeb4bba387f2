#include "app/relay_calls.h"

#include <exception>
#include <system_error>
#include <utility>

RelayCalls::RelayCalls(std::function<void(const std::string&)> failure)
    : failed(std::move(failure)) {
    try {
        thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        // No thread to be had: each call runs where it is posted, late as
        // that makes the window answer.
    }
}

RelayCalls::~RelayCalls() {
    {
        std::lock_guard lock(mutex);
        ending = true;
    }
    posted.notify_one();
    if (thread.joinable()) {
        thread.join();
    }
}

void RelayCalls::post(std::function<void()> call) {
    if (!thread.joinable()) {
        invoke(call);
        return;
    }
    {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(call));
    }
    posted.notify_one();
}

void RelayCalls::run() {
    for (;;) {
        std::function<void()> call;
        {
            std::unique_lock lock(mutex);
            posted.wait(lock, [this] { return !queue.empty() || ending; });
            if (queue.empty()) {
                return;  // ending, with every call asked for run
            }
            call = std::move(queue.front());
            queue.pop_front();
        }
        invoke(call);
    }
}

void RelayCalls::invoke(const std::function<void()>& call) const {
    try {
        call();
    } catch (const std::exception& e) {
        // Thrown into the thread's start it would end the process.
        failed(e.what());
    }
}
