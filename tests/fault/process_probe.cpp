#include "process_probe.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

// Calls fn with the name of each entry of dir but "." and "..".
void forEachEntry(const char* dir, const std::function<void(const std::string&)>& fn) {
    DIR* d = opendir(dir);
    if (d == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(d)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            fn(name);
        }
    }
    closedir(d);
}

int countEntries(const char* dir) {
    int n = 0;
    forEachEntry(dir, [&](const std::string&) { ++n; });
    return n;
}

}  // namespace

int openFdCount() {
    return countEntries("/proc/self/fd") - 1;  // opendir's own descriptor
}

std::string describeOpenFds() {
    std::string text;
    forEachEntry("/proc/self/fd", [&](const std::string& name) {
        char target[PATH_MAX];
        const std::string link = "/proc/self/fd/" + name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        text +=
            name + " -> " + (n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?") + "\n";
    });
    return text;
}

int threadCount() {
    return countEntries("/proc/self/task");
}

std::size_t residentKiB() {
    std::ifstream statm("/proc/self/statm");
    std::size_t sizePages = 0, residentPages = 0;
    statm >> sizePages >> residentPages;
    return residentPages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) / 1024;
}

std::size_t heapInUseBytes() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

int fdOpenOn(const std::string& path) {
    int found = -1;
    forEachEntry("/proc/self/fd", [&](const std::string& name) {
        char target[PATH_MAX];
        const std::string link = "/proc/self/fd/" + name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && path == std::string(target, static_cast<std::size_t>(n))) {
            found = std::atoi(name.c_str());
        }
    });
    return found;
}

bool threadBlockedInWrite(int fd) {
    bool blocked = false;
    forEachEntry("/proc/self/task", [&](const std::string& tid) {
        // "NR ARG1 ARG2 ..." with the arguments in hex while the thread sleeps
        // in a system call; "running" or "-1 ..." otherwise.
        std::ifstream file("/proc/self/task/" + tid + "/syscall");
        std::string line;
        std::getline(file, line);
        std::istringstream fields(line);
        long number = -1;
        std::string firstArg;
        if (fields >> number >> firstArg && number == SYS_write &&
            std::strtol(firstArg.c_str(), nullptr, 16) == fd) {
            blocked = true;
        }
    });
    return blocked;
}
