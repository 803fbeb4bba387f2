// RelayCalls: runs the window's calls on the relay (openKeyboard, start, stop,
// closeKeyboard, setStatusListener) on a thread of its own, one at a time and
// in the order they were asked for, so that the window thread never waits
// behind one. On Windows each look for the keyboard enumerates every USB
// device of the machine (libusb asks each hub, and waits for devices not yet
// configured), on the relay's worker as in openKeyboard(); start() and stop()
// join that worker, and a hub that does not answer holds it for good. The
// window stays answering, and its end waits for the calls a bounded time.
//
// A call that throws is caught here and its reason handed to the failure
// handler, on the thread that ran the call; the calls after it run as asked.
//
// Ownership: owns its thread. The destructor lets every call asked for run,
// then joins the thread: the owner destroys it only once nothing it asked for
// can hang (the window ends the process instead, see CPelloraDlg).
// Threads: post() from the owner's thread. Where no thread can be had, each
// call runs at once on the thread that posts it.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class RelayCalls {
public:
    // failed: told why a call threw; it must be quick (post a message).
    explicit RelayCalls(std::function<void(const std::string& reason)> failed);
    ~RelayCalls();
    RelayCalls(const RelayCalls&) = delete;
    RelayCalls& operator=(const RelayCalls&) = delete;

    // Runs call after every call posted before it.
    void post(std::function<void()> call);

private:
    void run();
    void invoke(const std::function<void()>& call) const;

    const std::function<void(const std::string&)> failed;
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<std::function<void()>> queue;  // guarded by mutex
    bool ending = false;                      // guarded by mutex: the destructor runs
    std::thread thread;  // last: started once the rest exists; none when none could be had
};
