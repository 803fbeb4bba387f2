#include "cli/instance_lock.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

class InstanceLockTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = (dir / "pellora.lock").string();
};

TEST_F(InstanceLockTest, ASecondOpenIsRefusedUntilTheFirstIsReleased) {
    InstanceLock first;
    InstanceLock second;
    ASSERT_EQ(first.acquire(path), InstanceLock::Outcome::Acquired);
    EXPECT_EQ(second.acquire(path), InstanceLock::Outcome::HeldElsewhere);
    EXPECT_FALSE(second.held());
    first.release();
    EXPECT_EQ(second.acquire(path), InstanceLock::Outcome::Acquired);
}

// The holder is another process, killed without any chance to clean up.
TEST_F(InstanceLockTest, AKilledHolderLeavesNoStaleLock) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        InstanceLock lock;
        const char ok = lock.acquire(path) == InstanceLock::Outcome::Acquired ? 1 : 0;
        if (write(ready[1], &ok, 1) == 1) {
            pause();
        }
        _exit(1);
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_EQ(ok, 1) << "the child did not get the lock";

    InstanceLock mine;
    EXPECT_EQ(mine.acquire(path), InstanceLock::Outcome::HeldElsewhere);
    kill(holder, SIGKILL);
    ASSERT_EQ(waitpid(holder, nullptr, 0), holder);
    EXPECT_EQ(mine.acquire(path), InstanceLock::Outcome::Acquired);
}

TEST_F(InstanceLockTest, AnUnusablePathFailsWithTheReason) {
    InstanceLock lock;
    const std::string missing = (dir / "none" / "pellora.lock").string();
    EXPECT_EQ(lock.acquire(missing), InstanceLock::Outcome::Failed);
    EXPECT_EQ(lock.failure(),
              "cannot open the lock file " + missing + ": No such file or directory");
}

}  // namespace
