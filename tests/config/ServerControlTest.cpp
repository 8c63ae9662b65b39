#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/ServerControl.h"
#include "tests/config/FakePrograms.h"
#include "tests/support/TempDir.h"

namespace {

// Waits for a child of the test to end; true when SIGTERM ended it.
bool endedBySigterm(pid_t pid) {
    for (int i = 0; i < 50; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

}  // namespace

// Stand-ins under names of this test alone, so that nothing else running
// on the machine is found or stopped.
class ServerControlTest : public ::testing::Test {
protected:
    void SetUp() override { fakes.install(dir.path()); }
    void TearDown() override {
        control.killProcessByName(fakes.serverName);
        control.killProcessByName(fakes.nginxName);
    }

    TempDir dir;
    FakePrograms fakes;
    ServerControl control{dir.path(), fakes.serverName, fakes.nginxName};
};

TEST_F(ServerControlTest, RunThenStopServerAndWebServer) {
    EXPECT_FALSE(control.isRunning());
    ASSERT_TRUE(control.start());
    ASSERT_TRUE(fakes.waitForFile(dir.file(fakes.serverName + ".cwd")));
    EXPECT_TRUE(control.isRunning());
    EXPECT_EQ(fakes.firstLine(dir.file(fakes.serverName + ".cwd")), dir.path());

    pid_t nginx = fakes.startNginx(dir.path());
    ASSERT_GT(nginx, 0);
    control.stopServerAndNginx();
    EXPECT_TRUE(control.waitUntilStopped(3000));
    EXPECT_FALSE(control.isRunning());
    EXPECT_TRUE(endedBySigterm(nginx));

    // The web server was asked to stop first, with its own prefix and configuration.
    std::string request = dir.file("nginx/stop-request");
    ASSERT_TRUE(fakes.waitForFile(request));
    EXPECT_EQ(fakes.firstLine(request), "-p " + dir.path() + "/nginx/ -c conf/nginx.conf -s stop");
}

TEST_F(ServerControlTest, StartWithoutServerProgramFails) {
    ServerControl missing(dir.path(), "absent-sv");
    EXPECT_FALSE(missing.start());
    EXPECT_FALSE(missing.isRunning());
    missing.stopServerAndNginx();  // no web server to ask, nothing to stop
    EXPECT_EQ(control.killProcessByName(fakes.serverName), 0);
}
