#include "cli/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string describeErrno(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

// Opens the lock file for reading only: flock needs no write access, so a file
// another user created (mode 0644) still serves. A file we did not create is
// never opened with O_CREAT, which the kernel's protected_regular setting
// refuses in a sticky, world-writable directory such as /run/lock or /tmp.
// Nor does it follow a symlink or wait on a FIFO someone else put there.
int openLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_CREAT | O_EXCL,
                    0644);
        if (fd >= 0) {
            // Readable by every user whatever our umask, so their instances can lock it too.
            ::fchmod(fd, 0644);
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
        // Another instance created it between our two opens: open it as theirs.
    }
    return -1;
}

}  // namespace

InstanceLock::Outcome InstanceLock::acquire(const std::string& path) {
    release();
    failureText.clear();
    const int file = openLockFile(path);
    if (file < 0) {
        failureText = describeErrno("cannot open the lock file", path, errno);
        return Outcome::Failed;
    }
    if (::flock(file, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(file);
        if (error == EWOULDBLOCK) {
            return Outcome::HeldElsewhere;
        }
        failureText = describeErrno("cannot lock", path, error);
        return Outcome::Failed;
    }
    fd = file;
    return Outcome::Acquired;
}

void InstanceLock::release() {
    if (fd >= 0) {
        ::close(fd);  // closing the only descriptor of the description ends the lock
        fd = -1;
    }
}

std::string InstanceLock::defaultPath() {
    const char* override = std::getenv("PELLORA_LOCK_FILE");
    if (override != nullptr && *override != '\0') {
        return override;
    }
    struct stat st {};
    if (::stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode)) {
        return "/run/lock/pellora.lock";
    }
    return "/tmp/pellora.lock";
}
