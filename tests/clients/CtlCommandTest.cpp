// sonavelctl against a live server: command lines in order, each with the
// exit status and the output it must give.

#include <gtest/gtest.h>

#include <regex.h>

#include <fstream>

#include "tests/clients/ServerProcess.h"

namespace {

// POSIX extended regular expressions: std::regex trips the sanitizer build's
// uninitialised-use warning in this compiler's headers.
bool matches(const std::string& text, const std::string& pattern) {
    regex_t re;
    if (regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
        return false;
    }
    const bool found = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&re);
    return found;
}

struct Line {
    std::vector<std::string> args;
    int status;
    const char* pattern;  // searched in standard output, or standard error when status != 0
};

class CtlCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string missing;
        if (!ServerProcess::programsBuilt(missing)) {
            return;
        }
        server_ = new ServerProcess();
        if (!server_->start()) {
            return;
        }
        room_ = server_->endpoint("room-101", {"--name", "Room 101", "--null"}).release();
        room_->waitForText("status: online", 10000);
    }
    static void TearDownTestSuite() {
        delete room_;
        room_ = nullptr;
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        std::string missing;
        if (!ServerProcess::programsBuilt(missing)) {
            GTEST_SKIP() << "not built: " << missing;
        }
        ASSERT_TRUE(server_ && room_) << "the server did not start";
        ASSERT_NE(room_->output().find("status: online"), std::string::npos)
            << "the endpoint did not come online:\n"
            << room_->output() << "\nserver log:\n"
            << server_->log();
    }
    std::string file(const std::string& name, const std::string& text) {
        const std::string path = server_->dir().file(name);
        std::ofstream(path) << text << "\n";
        return path;
    }
    void runLines(const std::vector<Line>& lines) {
        for (const Line& line : lines) {
            std::string shown;
            for (const auto& a : line.args) {
                shown += a + " ";
            }
            SCOPED_TRACE("sonavelctl " + shown);
            const RunResult r = server_->ctl(line.args);
            EXPECT_EQ(r.status, line.status) << r.out << r.err;
            const std::string& text = line.status == 0 ? r.out : r.err;
            EXPECT_TRUE(matches(text, line.pattern)) << "expected /" << line.pattern << "/ in:\n"
                                                     << text;
        }
    }

    static ServerProcess* server_;
    static ChildProcess* room_;
};

ServerProcess* CtlCommandTest::server_ = nullptr;
ChildProcess* CtlCommandTest::room_ = nullptr;

TEST_F(CtlCommandTest, EndpointsGroupsAccountsAndUploads) {
    const std::string teacherPw = file("teacher.pw", "chalk");
    const std::string wrongPw = file("wrong.pw", "907581");
    const std::string small = file("notes.txt", "not audio, but any file can be stored");
    // Larger than both digest ranges, so front and back differ, and many pieces long.
    const std::string large = server_->dir().file("large.bin");
    {
        std::string bytes(3000000, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 7919u) >> 8);
        }
        std::ofstream(large, std::ios::binary) << bytes;
    }
    runLines({
        {{"endpoints", "list"}, 0, "DEVICE ID +NAME +ONLINE\nroom-101 +Room 101 +yes"},
        {{"--json", "endpoints", "list"}, 0, "\"devId\" : \"room-101\""},
        {{"endpoints", "remove", "room-999"}, 1, "^sonavelctl: no endpoint room-999\n$"},
        {{"groups", "list"}, 0, "^no groups\n$"},
        {{"groups", "add", "g1", "First floor"}, 0, "^group g1 added\n$"},
        {{"groups", "add", "g1", "Again"}, 1, "group g1 already exists"},
        {{"groups", "add-members", "g1", "room-101", "room-102"},
         0,
         "group g1 members: room-101,room-102"},
        {{"groups", "remove-members", "g1", "room-102"}, 0, "group g1 members: room-101\n"},
        {{"groups", "rename", "g1", "Ground floor"}, 0, "group g1 renamed to Ground floor"},
        {{"groups", "add", "g2", "Gym"}, 0, "group g2 added"},
        {{"groups", "list"}, 0, "g1 +Ground floor +room-101\ng2 +Gym"},
        {{"groups", "delete", "g2"}, 0, "group g2 deleted"},
        {{"groups", "delete", "g2"}, 1, "no group g2"},
        {{"accounts", "add", "teacher", "--role", "user", "--groups", "g1",
          "--account-password-file", teacherPw},
         0,
         "account teacher saved"},
        {{"accounts", "list"}, 0, "admin +admin.*\nteacher +user +g1\n"},
        {{"accounts", "set-groups", "teacher", "g1,g3"}, 0, "account teacher groups: g1,g3"},
        // A limited manager sees the endpoints of its groups only.
        {{"--user", "teacher", "--password-file", teacherPw, "endpoints", "list"},
         0,
         "room-101 +Room 101 +yes"},
        {{"--password-file", wrongPw, "groups", "list"},
         1,
         "^sonavelctl: log-in refused: wrong password for admin\n$"},
        {{"--user", "nobody", "groups", "list"}, 1, "no account named nobody"},
        {{"accounts", "remove", "teacher"}, 0, "account teacher removed"},
        {{"accounts", "remove", "teacher"}, 1, "no account teacher"},
        {{"upload", small}, 0, "^notes.txt: uploaded, 38 bytes\n$"},
        {{"upload", small, "--name", "notes.txt"}, 0, "notes.txt: already on the server, not sent"},
        {{"--json", "upload", small, "--name", "copy.txt"}, 0, "\"sent\" : false"},
        {{"upload", server_->dir().file("absent.wav")}, 1, "cannot read"},
        {{"upload", large}, 0, "^large.bin: uploaded, 3000000 bytes\n$"},
        {{"upload", large, "--name", "../escape.bin"}, 1, "bad file name"},
        {{"groups", "clear"}, 0, "all groups deleted"},
        {{"groups", "list"}, 0, "^no groups\n$"},
        {{"frobnicate"}, 2, "unknown command: frobnicate"},
        {{"groups", "rename", "g1"}, 2, "wrong number of arguments"},
        {{"schedules", "add", "--type", "notice", "--text", "x", "--duration", "5", "--days",
          "funday"},
         1,
         "unknown day: funday"},
        {{"schedules", "add", "--type", "audio", "--duration", "5"}, 1, "needs --file"},
        {{"schedules", "add", "--type", "notice", "--text", "x", "--duration", "5", "--target",
          "room:1"},
         1,
         "bad target: room:1"},
        {{"endpoints", "remove", "room-101"}, 0, "removed 1 endpoint"},
        {{"endpoints", "list"}, 0, "^no endpoints\n$"},
    });
    std::ifstream stored(server_->filesDir() + "/notes.txt");
    std::string content;
    std::getline(stored, content);
    EXPECT_EQ(content, "not audio, but any file can be stored");
    EXPECT_EQ(readFile(server_->filesDir() + "/large.bin"), readFile(large));
}

TEST_F(CtlCommandTest, SchedulesAndNotices) {
    const RunResult probe = server_->ctl({"schedules", "list"});
    const RunResult add =
        server_->ctl({"schedules", "add", "--type", "notice", "--text", "Fire drill at ten",
                      "--start", "8:00", "--duration", "600", "--days", "mon", "--id", "n1"});
    if (add.status != 0 && add.err.find("did not store") != std::string::npos) {
        GTEST_SKIP() << "this server answers no schedule commands: " << add.err;
    }
    EXPECT_EQ(probe.out, "no schedules\n");
    EXPECT_TRUE(matches(add.out, "n1 +notice +ready +8:0:0 +600 +once mon +all"))
        << add.out << add.err;
    runLines({
        {{"schedules", "add", "--type", "bell", "--content", "{\"ring\":3}", "--start", "23:59",
          "--duration", "1", "--days", "weekend", "--weekly", "--target", "group:g1", "--id", "b1",
          "--desc", "Last bell"},
         0,
         "b1 +bell +ready +23:59:0 +1 +weekly sat,sun +group:g1 +Last bell"},
        {{"schedules", "list"}, 0, "n1 +notice.*\nb1 +bell"},
        {{"schedules", "list", "--type", "bell"}, 0, "^ID .*\nb1 .*\n$"},
        {{"--json", "schedules", "list", "--type", "notice"}, 0, "\"id\" : \"n1\""},
        {{"notices", "show"}, 0, "^Fire drill at ten\n$"},
        {{"schedules", "stop", "n1"}, 0, "schedule n1 stopped, now (ready|completed)"},
        {{"schedules", "stop", "zz"}, 1, "no schedule zz"},
        {{"schedules", "delete", "b1"}, 0, "schedule b1 deleted"},
        {{"schedules", "delete", "b1"}, 1, "no schedule b1"},
        {{"notices", "stop"}, 0, "notices stopped"},
        {{"notices", "show"}, 0, "^no notice\n$"},
        {{"schedules", "list"}, 0, "^no schedules\n$"},
    });
}

TEST_F(CtlCommandTest, WatchPrintsPresenceAsItHappens) {
    ChildProcess watch(ServerProcess::binDir() + "/sonavelctl",
                       {"--port", std::to_string(server_->port()), "watch"},
                       server_->dir().file("watch.log"), {{"SONAVEL_PASSWORD", "907580"}});
    ASSERT_NE(watch.waitForText("watching", 5000), std::string::npos) << watch.output();
    {
        auto hall = server_->endpoint("hall-1", {"--name", "Hall", "--null"});
        EXPECT_NE(watch.waitForText("endpoint hall-1 (Hall) online", 10000), std::string::npos)
            << watch.output();
    }
    EXPECT_NE(watch.waitForText("endpoint hall-1 offline", 10000), std::string::npos)
        << watch.output();
    EXPECT_EQ(watch.stop(), 0);
}

}  // namespace
