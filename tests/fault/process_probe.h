// What a fault test can see of its own process through /proc: open file
// descriptors, threads, resident memory, and whether a thread sleeps in write()
// on a given descriptor. Used to prove that something left nothing behind, and
// to wait for a state (a worker stuck on a full line) instead of for a time.
#pragma once

#include <cstddef>
#include <string>

// Entries in /proc/self/fd (the descriptor used to list them not counted).
int openFdCount();
// "fd -> target" for each of them, one per line: for a failure message.
std::string describeOpenFds();

// Entries in /proc/self/task: the threads of this process.
int threadCount();

// Resident set size from /proc/self/statm, in KiB.
std::size_t residentKiB();

// Bytes malloc has handed out and not got back (glibc's mallinfo2, mmapped
// blocks included): unlike the resident set, blind to pages kept after a free.
std::size_t heapInUseBytes();

// The descriptor this process holds open on path (the link target, as
// /proc/self/fd shows it), or -1.
int fdOpenOn(const std::string& path);

// Whether some thread of this process is asleep inside write(fd): the kernel
// then names the call and its first argument in /proc/self/task/TID/syscall.
bool threadBlockedInWrite(int fd);
