#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <set>
#include <thread>

#include "common/Platform.h"
#include "common/Settings.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kBinDir = SONAVEL_BIN_DIR;

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs the built tool with no display at all and waits for it (10 s at most).
ToolRun runTool(const std::string& option) {
    ToolRun run;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return run;
    }
    std::string tool = kBinDir + "/SonavelConfig";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        execl(tool.c_str(), tool.c_str(), option.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    char buf[256];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        run.output.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : path;
}

std::string cwdOf(pid_t pid) {
    char path[PATH_MAX];
    ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "";
}

// Our processes of that name working in folder or below it.
std::set<pid_t> processesIn(const std::string& name, const std::string& folder) {
    std::set<pid_t> pids;
    for (const auto& p : listProcesses()) {
        if (p.uid == getuid() && p.name == name && cwdOf(p.pid).rfind(folder, 0) == 0) {
            pids.insert(p.pid);
        }
    }
    return pids;
}

uint16_t freePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

void terminate(const std::set<pid_t>& pids) {
    for (pid_t pid : pids) {
        kill(pid, SIGTERM);
    }
    for (int i = 0; i < 50; ++i) {
        bool alive = false;
        for (pid_t pid : pids) {
            alive = alive || kill(pid, 0) == 0;
        }
        if (!alive) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (pid_t pid : pids) {
        kill(pid, SIGKILL);
    }
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        const char* prev = std::getenv(name);
        had_ = prev != nullptr;
        previous_ = prev ? prev : "";
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { had_ ? setenv(name_, previous_.c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::string previous_;
    bool had_;
};

}  // namespace

// Settings, documents and the single-instance lock all private to the test.
class StartModeProcessTest : public ::testing::Test {
protected:
    ScopedConfigHome home;
    TempDir docs;
    TempDir runtime;
    ScopedEnv docsEnv{"XDG_DOCUMENTS_DIR", docs.path()};
    ScopedEnv runtimeEnv{"XDG_RUNTIME_DIR", runtime.path()};
};

TEST_F(StartModeProcessTest, StartLaunchesServerFromProgramFolderAndReturns) {
    if (access((kBinDir + "/sonavel").c_str(), X_OK) != 0) {
        GTEST_SKIP() << "no server executable at " << kBinDir
                     << "/sonavel; build the server into the program folder to run this test";
    }
    const std::string bin = realPath(kBinDir);
    ASSERT_TRUE(setCurrentUserRegString("TervikSoft\\Sonavel", "Port", std::to_string(freePort())));
    ASSERT_TRUE(
        setCurrentUserRegString("TervikSoft\\Sonavel", "HttpPort", std::to_string(freePort())));
    std::set<pid_t> before = processesIn("sonavel", bin);
    std::set<pid_t> nginxBefore = processesIn("tervik-nginx", bin);

    ToolRun run = runTool("--start");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "正在启动服务\n");

    std::set<pid_t> started;
    for (int i = 0; i < 50 && started.empty(); ++i) {
        for (pid_t pid : processesIn("sonavel", bin)) {
            if (!before.count(pid) && cwdOf(pid) == bin) {
                started.insert(pid);
            }
        }
        if (started.empty()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    // The tool has already returned while the server it started runs on.
    EXPECT_FALSE(started.empty()) << "no server process working in " << bin;

    terminate(started);
    std::set<pid_t> nginx;
    for (pid_t pid : processesIn("tervik-nginx", bin)) {
        if (!nginxBefore.count(pid)) {
            nginx.insert(pid);
        }
    }
    terminate(nginx);
}

TEST_F(StartModeProcessTest, ResetPasswordAndStatusInChosenLanguage) {
    ASSERT_TRUE(setCurrentUserRegString("TervikSoft\\SonavelConfig\\SET", "language", "English"));
    ToolRun failed = runTool("--reset-password");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.output, "Password reset failed\n");

    std::string folder = docs.path() + "/Sonavel";
    ASSERT_TRUE(setCurrentUserRegString("TervikSoft\\Sonavel", "DocDir", folder));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/sonavel.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "create table account(userName text, password text, role text, "
                           "groups text, UNIQUE(userName))",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ToolRun done = runTool("--reset-password");
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.output, "Password reset succeeded\n");

    // Whatever runs on this machine, the answer is one line that matches the status.
    ToolRun status = runTool("--status");
    EXPECT_EQ(status.output,
              status.status == 0 ? "The service is running\n" : "The service has stopped\n");
}
