// The real sonavel program, each run with its own program folder (a link to
// the built executable, with its own web server prefix), settings, runtime
// folder, document folder and free ports.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "common/Platform.h"
#include "server/host/NginxCompanion.h"
#include "tests/host/ChildProcess.h"
#include "tests/host/HttpProbe.h"
#include "tests/host/NginxTestPrefix.h"
#include "tests/support/FileText.h"
#include "tests/support/FrameClient.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kStartMs = 20000;

// One installation of the server: program folder, settings and folders.
struct Installation {
    Installation(const TempDir& root, const std::string& name, const std::string& runtimeDir)
        : programDir(root.file(name + "-bin")),
          configHome(root.file(name + "-config")),
          docDir(root.file(name + "-doc")),
          runtimeDir(runtimeDir),
          httpPort(freeTcpPort()),
          port(freeTcpPort()) {
        fs::create_directories(programDir);
        // The program folder is where the executable lies, so it gets its own
        // copy (a hard link where the file system allows it).
        std::error_code ec;
        fs::create_hard_link(SONAVEL_EXE, programDir + "/sonavel", ec);
        if (ec) {
            fs::copy_file(SONAVEL_EXE, programDir + "/sonavel");
        }
        nginx = std::make_unique<NginxTestPrefix>(programDir);
        fs::create_directories(configHome + "/TervikSoft");
        fs::create_directories(runtimeDir);
        writeSettings();
    }

    void writeSettings() {
        std::ofstream(configHome + "/TervikSoft/Sonavel.conf")
            << "DocDir=" << docDir << "\nHttpPort=" << httpPort << "\nPort=" << port << "\n";
    }

    std::unique_ptr<ChildProcess> start(const std::string& outputName) {
        return std::make_unique<ChildProcess>(
            programDir + "/sonavel", std::vector<std::string>{},
            std::map<std::string, std::string>{{"XDG_CONFIG_HOME", configHome},
                                               {"XDG_RUNTIME_DIR", runtimeDir}},
            programDir + "/" + outputName);
    }

    std::string programDir, configHome, docDir, runtimeDir;
    uint16_t httpPort, port;
    std::unique_ptr<NginxTestPrefix> nginx;
};

class HostProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        // isNginxRunning sees the whole machine; every start here decides
        // whether to start a web server, so none may be left from elsewhere.
        ASSERT_TRUE(NginxTestPrefix::waitUntilNoneRunning(30000)) << "another tervik-nginx runs";
    }

    TempDir root_;
    Installation app_{root_, "a", root_.file("run")};
};

}  // namespace

TEST_F(HostProcessTest, FreshStartMakesFoldersServesFilesAndStopsCleanly) {
    ASSERT_FALSE(fs::exists(app_.docDir));
    auto server = app_.start("out.txt");
    ASSERT_TRUE(waitForListening(app_.port, kStartMs)) << server->output();

    EXPECT_TRUE(fs::is_directory(app_.docDir));
    EXPECT_TRUE(fs::is_directory(app_.docDir + "/Files"));
    EXPECT_EQ(readFile(app_.nginx->confPath()),
              nginxConfText(app_.docDir + "/Files", app_.httpPort, geteuid() == 0));

    std::ofstream(app_.docDir + "/Files/bell.txt") << "ring\n";
    std::string reply = httpGet(app_.httpPort, "/bell.txt", kStartMs);
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
    EXPECT_NE(reply.find("\r\n\r\nring\n"), std::string::npos) << reply;

    server->signal(SIGTERM);
    EXPECT_EQ(server->waitExit(10000), 0) << server->output();
    EXPECT_NE(server->output().find("listening on port " + std::to_string(app_.port)),
              std::string::npos)
        << server->output();
    // The web server is not the server's to stop.
    EXPECT_EQ(httpGet(app_.httpPort, "/bell.txt", 2000).rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_FALSE(fs::exists(app_.programDir + "/sonavel.dmp"));
}

TEST_F(HostProcessTest, ProgramRegistersForwardsAndLogsUnhandledCommands) {
    auto server = app_.start("out.txt");
    ASSERT_TRUE(waitForListening(app_.port, kStartMs)) << server->output();
    FrameClient sender(app_.port), receiver(app_.port);
    ASSERT_TRUE(sender.sendRegister("desk-1") && receiver.sendRegister("hall-2"));
    // Heartbeats reach registered peers only: one on each proves both are
    // registered before anything is forwarded.
    for (FrameClient* peer : {&sender, &receiver}) {
        auto first = peer->readFrame(5000);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(first->cmd, "heartbeat");
    }

    ASSERT_TRUE(sender.sendFrame("no-such-cmd", Json::Value(Json::objectValue)));
    Json::Value forward;
    forward["cmd"] = "notice";
    forward["msg"]["text"] = "assembly at ten";
    forward["dataFlow"] = R"({"policy":"ToTarget","dst":["hall-2"]})";
    ASSERT_TRUE(sender.sendFrame("forward-data", forward));

    auto got = receiver.readMessage(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->cmd, "notice");
    EXPECT_EQ(got->src, "desk-1");
    EXPECT_EQ(got->msg["text"].asString(), "assembly at ten");
    auto beat = receiver.readFrame(5000);
    ASSERT_TRUE(beat.has_value());
    EXPECT_EQ(beat->cmd, "heartbeat");

    server->signal(SIGTERM);
    EXPECT_EQ(server->waitExit(10000), 0) << server->output();
    EXPECT_NE(server->output().find("unhandled cmd: no-such-cmd\n"), std::string::npos)
        << server->output();
}

TEST_F(HostProcessTest, SigintAndSigtermBothEndWithZero) {
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        auto server = app_.start("out.txt");
        ASSERT_TRUE(waitForListening(app_.port, kStartMs)) << server->output();
        server->signal(sig);
        EXPECT_EQ(server->waitExit(10000), 0) << server->output();
    }
}

TEST_F(HostProcessTest, SecondCopyPrintsAlreadyExistsAndTouchesNothing) {
    auto first = app_.start("out.txt");
    ASSERT_TRUE(waitForListening(app_.port, kStartMs)) << first->output();

    Installation other(root_, "b", app_.runtimeDir);
    auto second = other.start("out.txt");
    EXPECT_EQ(second->waitExit(10000), 1);
    EXPECT_EQ(second->output(), "app ALREADY_EXISTS\n");
    EXPECT_FALSE(fs::exists(other.docDir));
    EXPECT_FALSE(fs::exists(other.nginx->confPath()));
    EXPECT_FALSE(waitForListening(other.port, 0));

    EXPECT_TRUE(first->running());
    first->signal(SIGTERM);
    EXPECT_EQ(first->waitExit(10000), 0) << first->output();

    // With the first copy gone the lock is free again.
    auto third = other.start("out2.txt");
    EXPECT_TRUE(waitForListening(other.port, kStartMs)) << third->output();
    third->signal(SIGTERM);
    EXPECT_EQ(third->waitExit(10000), 0) << third->output();
}

TEST_F(HostProcessTest, RunningWebServerIsLeftAsItIs) {
    // Any process whose name contains tervik-nginx counts as the web server.
    fs::create_directories(root_.file("fake"));
    std::string fake = root_.file("fake/tervik-nginx");
    fs::copy_file("/bin/sleep", fake);
    ChildProcess webServer(fake, {"60"}, {}, root_.file("fake/out.txt"));
    for (int i = 0; i < 200 && !isNginxRunning(); ++i) {
        usleep(10000);
    }

    auto server = app_.start("out.txt");
    ASSERT_TRUE(waitForListening(app_.port, kStartMs)) << server->output();
    EXPECT_FALSE(fs::exists(app_.nginx->confPath()));
    server->signal(SIGTERM);
    EXPECT_EQ(server->waitExit(10000), 0) << server->output();
}

TEST_F(HostProcessTest, DocumentFolderWithoutParentIsLeftUncreated) {
    app_.docDir = root_.file("missing/doc");
    app_.writeSettings();
    auto server = app_.start("out.txt");
    ASSERT_TRUE(waitForListening(app_.port, kStartMs)) << server->output();
    EXPECT_FALSE(fs::exists(root_.file("missing")));
    server->signal(SIGTERM);
    EXPECT_EQ(server->waitExit(10000), 0) << server->output();
}

TEST_F(HostProcessTest, UnwritableWebServerConfigurationEndsWithOne) {
    fs::create_directories(app_.nginx->confPath() + "/keep");
    auto server = app_.start("out.txt");
    EXPECT_EQ(server->waitExit(kStartMs), 1) << server->output();
    EXPECT_NE(server->output().find("dump_nginx_conf failed"), std::string::npos);
    EXPECT_FALSE(waitForListening(app_.port, 0));
}

TEST_F(HostProcessTest, BusyMessagePortIsReportedNotCrashed) {
    int busy = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(app_.port);
    ASSERT_EQ(bind(busy, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(busy, 1), 0);

    auto server = app_.start("out.txt");
    EXPECT_EQ(server->waitExit(kStartMs), 1) << server->output();
    EXPECT_NE(server->output().find("server start failed"), std::string::npos) << server->output();
    EXPECT_EQ(server->output().find("Fatal Error"), std::string::npos);
    EXPECT_FALSE(fs::exists(app_.programDir + "/sonavel.dmp"));
    close(busy);
}
