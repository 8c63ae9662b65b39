// sonavel-endpoint as a process: its command line, coming back after the
// server was killed or went silent, and what it does with notices and
// shutdown orders.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/clients/ServerProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

class EndpointProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing;
        if (!ServerProcess::programsBuilt(missing)) {
            GTEST_SKIP() << "not built: " << missing;
        }
        ASSERT_TRUE(server_.start()) << server_.log();
    }

    ServerProcess server_;
};

TEST(EndpointCommandLine, HelpListsEveryOptionAndBadOptionsFail) {
    const std::string program = ServerProcess::binDir() + "/sonavel-endpoint";
    const RunResult help = runProgram(program, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--host", "--port", "--id", "--name", "--alsa-device", "--wav", "--null", "--on-shutdown",
          "--prebuffer-ms", "--heartbeat-timeout-ms", "--retry-ms", "--retry-max-ms", "--help"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const struct {
        std::vector<std::string> args;
        const char* error;
    } bad[] = {{{"--bogus"}, "unknown option: --bogus"},
               {{"--port", "70000"}, "--port: not a number from 1 to 65535"},
               {{"--wav"}, "--wav needs a value"}};
    for (const auto& b : bad) {
        const RunResult r = runProgram(program, b.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(b.error), std::string::npos) << r.err;
    }
}

TEST_F(EndpointProcessTest, ComesBackOnlineAfterTheServerIsKilledAndRestarted) {
    auto endpoint =
        server_.endpoint("room-7", {"--null", "--retry-ms", "200", "--retry-max-ms", "1000"});
    size_t at = endpoint->waitForText("status: online as room-7", 10000);
    ASSERT_NE(at, std::string::npos) << endpoint->output();

    server_.kill();
    at = endpoint->waitForText("status: offline (connection closed)", 5000, at);
    ASSERT_NE(at, std::string::npos) << endpoint->output();
    // A few failed attempts grow the delay to its ceiling while the server is down.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    ASSERT_TRUE(server_.start()) << server_.log();
    const auto up = Clock::now();
    at = endpoint->waitForText("status: online as room-7", 10000, at);
    ASSERT_NE(at, std::string::npos) << endpoint->output();
    // The longest delay is 1000 ms plus a quarter; allow a second for the log-in.
    EXPECT_LT(Clock::now() - up, std::chrono::milliseconds(1250 + 1000)) << endpoint->output();

    const RunResult list = server_.ctl({"endpoints", "list"});
    EXPECT_NE(list.out.find("room-7"), std::string::npos) << list.out << list.err;
    EXPECT_NE(list.out.find("yes"), std::string::npos) << list.out;
}

TEST_F(EndpointProcessTest, NoticesAServerThatSendsNoHeartbeat) {
    auto endpoint = server_.endpoint("room-8", {"--null", "--heartbeat-timeout-ms", "1500",
                                                "--retry-ms", "100", "--retry-max-ms", "400"});
    size_t at = endpoint->waitForText("status: online as room-8", 10000);
    ASSERT_NE(at, std::string::npos) << endpoint->output();
    // A stopped server keeps its sockets open but sends nothing.
    const pid_t serverPid = server_.pid();
    ASSERT_GT(serverPid, 0);
    kill(serverPid, SIGSTOP);
    at = endpoint->waitForText("status: offline (no heartbeat for 1500 ms)", 5000, at);
    kill(serverPid, SIGCONT);
    ASSERT_NE(at, std::string::npos) << endpoint->output();
    EXPECT_NE(endpoint->waitForText("status: online as room-8", 15000, at), std::string::npos)
        << endpoint->output();
}

TEST_F(EndpointProcessTest, ShowsNoticesAndRunsTheShutdownCommandOnce) {
    const std::string marker = server_.dir().file("shutdown-ran");
    auto endpoint =
        server_.endpoint("room-9", {"--null", "--on-shutdown", "echo ran >> '" + marker + "'"});
    ASSERT_NE(endpoint->waitForText("status: online as room-9", 10000), std::string::npos)
        << endpoint->output();
    const RunResult notice = server_.ctl({"schedules", "add", "--type", "notice", "--text",
                                          "Assembly at noon", "--start", "now", "--duration", "30",
                                          "--target", "endpoint:room-9", "--id", "n9"});
    if (notice.status != 0 && notice.err.find("did not store") != std::string::npos) {
        GTEST_SKIP() << "this server answers no schedule commands: " << notice.err;
    }
    ASSERT_EQ(notice.status, 0) << notice.err;
    EXPECT_NE(endpoint->waitForText("notice n9: {\"text\":\"Assembly at noon\"}", 10000),
              std::string::npos)
        << endpoint->output() << server_.log();
    const RunResult shutdown = server_.ctl({"schedules", "add", "--type", "shutdown", "--start",
                                            "now", "--target", "endpoint:room-9", "--id", "s9"});
    ASSERT_EQ(shutdown.status, 0) << shutdown.err;
    size_t at = endpoint->waitForText("shutdown ordered by schedule s9", 10000);
    ASSERT_NE(at, std::string::npos) << endpoint->output();
    EXPECT_NE(endpoint->waitForText("shutdown command started", 2000), std::string::npos);

    // Back after a lost connection inside the order's 8 s, the endpoint is
    // given the order again and must not carry it out twice.
    const pid_t serverPid = server_.pid();
    kill(serverPid, SIGSTOP);
    at = endpoint->waitForText("status: offline (no heartbeat", 5000, at);
    kill(serverPid, SIGCONT);
    ASSERT_NE(at, std::string::npos) << endpoint->output();
    EXPECT_NE(endpoint->waitForText("shutdown ordered by schedule s9", 5000, at), std::string::npos)
        << endpoint->output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(readFile(marker), "ran\n");
}

}  // namespace
