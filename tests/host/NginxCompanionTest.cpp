#include "server/host/NginxCompanion.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Platform.h"
#include "tests/host/HttpProbe.h"
#include "tests/host/NginxTestPrefix.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {

int runAndWait(const std::string& program, const std::vector<std::string>& args,
               const std::string& workDir) {
    pid_t pid = spawnDetached(program, args, workDir);
    int status = -1;
    if (pid > 0) {
        waitpid(pid, &status, 0);
    }
    return status;
}

// Exited children of this process named tervik-nginx that nobody reaped.
int unreapedNginxChildren() {
    int count = 0;
    for (const ProcessInfo& p : listProcesses()) {
        std::ifstream in("/proc/" + std::to_string(p.pid) + "/stat");
        std::string stat;
        std::getline(in, stat);
        size_t paren = stat.rfind(')');
        if (p.name != "tervik-nginx" || paren == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(paren + 2));
        char state = 0;
        pid_t ppid = 0;
        fields >> state >> ppid;
        count += state == 'Z' && ppid == getpid();
    }
    return count;
}

// A process whose name is chosen by the test: a copy of sleep.
pid_t startNamedProcess(const TempDir& dir, const std::string& name, const char* seconds) {
    std::string exe = dir.file(name);
    std::filesystem::copy_file("/bin/sleep", exe);
    return spawnDetached(exe, {seconds}, "/");
}

class NginxCompanionTest : public ::testing::Test {
protected:
    TempDir dir_;
    NginxTestPrefix prefix_{dir_.path()};
};

}  // namespace

TEST(NginxConfTextTest, PlaceholdersAreFilled) {
    struct Case {
        std::string docRoot;
        bool asRoot;
        std::string rootLine;
    } cases[] = {
        {"/home/ana/Documents/Sonavel/Files", false, "root \"/home/ana/Documents/Sonavel/Files\";"},
        {"/srv/school audio/Files", true, "root \"/srv/school audio/Files\";"},
        {"/srv/odd\"name\\x/Files", false, "root \"/srv/odd\\\"name\\\\x/Files\";"},
        {"/srv/$SRVPORT/Files", false, "root \"/srv/$SRVPORT/Files\";"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.docRoot);
        std::string text = nginxConfText(c.docRoot, 18080, c.asRoot);
        EXPECT_NE(text.find("listen 18080;"), std::string::npos) << text;
        EXPECT_NE(text.find(c.rootLine), std::string::npos) << text;
        EXPECT_EQ(text.find("$DOCROOT"), std::string::npos);
        EXPECT_EQ(text.rfind("user root;\n", 0) == 0, c.asRoot);
        EXPECT_EQ(text.find("include "), std::string::npos) << "system files must not be read";
    }
}

TEST_F(NginxCompanionTest, DumpWritesAConfigurationNginxAccepts) {
    ASSERT_TRUE(dump_nginx_conf(dir_.file("Files"), 18081, prefix_.path()));
    std::string text = readFile(prefix_.confPath());
    EXPECT_EQ(text, nginxConfText(dir_.file("Files"), 18081, geteuid() == 0));
    // nginx's own check reads the whole file, so a template error shows here.
    int status = runAndWait(prefix_.path() + "/tervik-nginx",
                            {"-t", "-q", "-p", prefix_.path() + "/", "-c", "conf/nginx.conf"},
                            prefix_.path());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(NginxCompanionTest, DumpFailsWhenTheFileCannotBeWritten) {
    EXPECT_FALSE(dump_nginx_conf("/srv/Files", 18082, dir_.file("no-such-prefix")));
    std::filesystem::create_directory(prefix_.confPath());  // a folder in the file's place
    EXPECT_FALSE(dump_nginx_conf("/srv/Files", 18082, prefix_.path()));
}

TEST_F(NginxCompanionTest, StartFailsAndLogsWhenConfigurationCannotBeWritten) {
    // A folder in the file's place, not empty so that it cannot be removed.
    std::filesystem::create_directories(prefix_.confPath() + "/keep");
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(startNginx(dir_.file("Files"), 18083, prefix_.path()));
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("dump_nginx_conf failed"),
              std::string::npos);
}

TEST_F(NginxCompanionTest, StartedWebServerServesTheFilesFolder) {
    ASSERT_TRUE(NginxTestPrefix::waitUntilNoneRunning(30000)) << "another tervik-nginx runs";
    std::string files = dir_.file("Files");
    std::filesystem::create_directory(files);
    writeFile(files + "/hello.txt", "hello from Files\n");
    writeFile(files + "/morning bell.mp3", std::string(3000, '\x55'));
    writeFile(prefix_.confPath(), "stale configuration");
    uint16_t port = freeTcpPort();

    ASSERT_TRUE(startNginx(files, port, prefix_.path()));
    EXPECT_EQ(readFile(prefix_.confPath()), nginxConfText(files, port, geteuid() == 0));

    std::string hello = httpGet(port, "/hello.txt", 10000);
    EXPECT_EQ(hello.rfind("HTTP/1.1 200", 0), 0u) << hello;
    EXPECT_NE(hello.find("\r\n\r\nhello from Files\n"), std::string::npos) << hello;
    std::string song = httpGet(port, "/morning%20bell.mp3", 2000);
    EXPECT_NE(song.find("Content-Type: audio/mpeg"), std::string::npos) << song;
    EXPECT_NE(song.find("Content-Length: 3000"), std::string::npos) << song;
    EXPECT_EQ(httpGet(port, "/missing.mp3", 2000).rfind("HTTP/1.1 404", 0), 0u);
    EXPECT_TRUE(isNginxRunning());
    // The first process exits once nginx has daemonised; it must be reaped.
    for (int i = 0; i < 200 && unreapedNginxChildren() > 0; ++i) {
        usleep(10000);
    }
    EXPECT_EQ(unreapedNginxChildren(), 0);

    // Logs, pid file and temporary folders all stay inside the prefix.
    EXPECT_TRUE(std::filesystem::exists(prefix_.path() + "/logs/nginx.pid"));
    EXPECT_TRUE(std::filesystem::exists(prefix_.path() + "/client_body_temp"));
    prefix_.stop();
}

TEST_F(NginxCompanionTest, AnyProcessWhoseNameContainsTheNameCounts) {
    pid_t fake = startNamedProcess(dir_, "xTERVIK-Nginx1", "30");
    ASSERT_GT(fake, 0);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        seen = isNginxRunning();
        usleep(10000);
    }
    EXPECT_TRUE(seen);
    kill(fake, SIGKILL);
    waitpid(fake, nullptr, 0);
}

TEST_F(NginxCompanionTest, ExitedUnreapedProcessDoesNotCount) {
    ASSERT_TRUE(NginxTestPrefix::waitUntilNoneRunning(30000)) << "another tervik-nginx runs";
    pid_t zombie = startNamedProcess(dir_, "tervik-nginx", "0");
    ASSERT_GT(zombie, 0);
    siginfo_t info{};
    // Wait for it to exit but leave it unreaped.
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(isNginxRunning());
    waitpid(zombie, nullptr, 0);
}
