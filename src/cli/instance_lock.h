// InstanceLock: keeps a second pellora from running on the same machine.
//
// The lock is an exclusive flock on a lock file shared by every user. The
// kernel drops it when its open file description closes, and so when the
// process ends in any way, a crash or SIGKILL included: no stale lock survives
// a run. The file itself stays; it holds nothing.
//
// Ownership: an InstanceLock owns the file descriptor that carries the lock;
// releasing or destroying it ends the lock. The descriptor is close-on-exec, so
// programs this one starts do not inherit the lock.
#pragma once

#include <string>

class InstanceLock {
public:
    enum class Outcome {
        Acquired,
        HeldElsewhere,  // another open of the file, in this or another process, holds it
        Failed,         // the file could not be opened or locked (see failure())
    };

    InstanceLock() = default;
    ~InstanceLock() { release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Opens path, creating it when missing, and takes the lock without waiting.
    // Releases any lock this object already held first.
    Outcome acquire(const std::string& path);

    void release();
    bool held() const { return fd >= 0; }

    // Why the last acquire failed, in the system's words, with the path.
    const std::string& failure() const { return failureText; }

    // Where the lock lives: $PELLORA_LOCK_FILE when set and not empty, else
    // /run/lock/pellora.lock, or /tmp/pellora.lock where /run/lock is missing.
    static std::string defaultPath();

private:
    int fd = -1;
    std::string failureText;
};
