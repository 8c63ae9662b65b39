#include "server/host/SingleInstance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "common/Platform.h"
#include "tests/support/TempDir.h"

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1); }
    void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }
    TempDir runtime_;
};

}  // namespace

TEST_F(SingleInstanceTest, LockPathFollowsRuntimeDir) {
    EXPECT_EQ(SingleInstance::lockPath(),
              runtime_.path() + "/{71FEF2B5-C5B3-4106-A73A-7FDF6AE1EF44}.lock");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(SingleInstance::lockPath(),
              "/tmp/{71FEF2B5-C5B3-4106-A73A-7FDF6AE1EF44}-" + std::to_string(getuid()) + ".lock");
}

TEST_F(SingleInstanceTest, SecondHolderIsRefusedUntilTheFirstIsGone) {
    auto first = std::make_unique<SingleInstance>();
    ASSERT_TRUE(first->acquire());
    SingleInstance second;
    EXPECT_FALSE(second.acquire());
    first.reset();
    EXPECT_TRUE(second.acquire());
}

TEST_F(SingleInstanceTest, ProgramsStartedByTheHolderDoNotKeepTheLock) {
    // The web server outlives the server; it must not keep a restarted
    // server out.
    auto holder = std::make_unique<SingleInstance>();
    ASSERT_TRUE(holder->acquire());
    pid_t child = spawnDetached("/bin/sleep", {"5"}, "/");
    ASSERT_GT(child, 0);
    holder.reset();
    SingleInstance next;
    EXPECT_TRUE(next.acquire());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

TEST_F(SingleInstanceTest, UnusableLockFolderDoesNotBlockStart) {
    setenv("XDG_RUNTIME_DIR", (runtime_.path() + "/missing").c_str(), 1);
    SingleInstance instance;
    EXPECT_TRUE(instance.acquire());
}
