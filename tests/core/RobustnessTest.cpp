#include <gtest/gtest.h>

#include <set>

#include "tests/core/CoreHarness.h"

// Every command with fields of every wrong shape: each request is logged and
// read as absent, and the server keeps serving.
TEST(RobustnessTest, WrongShapesLeaveTheServerServing) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    ASSERT_TRUE(admin->sync());
    const char* commands[] = {
        "forward-data-to-manager",
        "manager-login",
        "endpoint-login",
        "query-endpoints",
        "remove-endpoints",
        "query-groups",
        "add-member-to-group",
        "del-member-from-group",
        "add-group",
        "del-group",
        "update-group",
        "upload-file-start",
        "upload-file-data",
        "upload-file-end",
        "query-account",
        "append-account",
        "remove-account",
        "modify-account",
    };
    const char* shapes[] = {
        R"([1,2,3])",
        R"("just text")",
        R"(42)",
        R"({"cmd":{},"userName":[1],"password":{"a":1},"devName":[],"endpoints":"d1",)"
        R"("groupId":["g1"],"groupName":{},"fileName":[],"md5":{},"md5_front":[],)"
        R"("md5_back":{},"size":"12","role":[],"groups":{"a":"b"}})",
        R"({"endpoints":{"a":1},"groups":"g1","size":[1],"fileName":{"x":1}})",
        R"({"endpoints":[{"a":1},["x"]],"groups":[{}],"size":1.5,"md5_front":"a","md5_back":"b"})",
    };
    // Commands that read no field notice only a msg that is not an object.
    const std::set<std::string> readNothing = {
        "query-endpoints", "query-groups", "upload-file-data", "upload-file-end", "query-account"};
    for (const char* cmd : commands) {
        for (size_t i = 0; i < std::size(shapes); ++i) {
            const char* shape = shapes[i];
            SCOPED_TRACE(std::string(cmd) + " " + shape);
            auto peer = h.connect("wrong");
            testing::internal::CaptureStdout();
            peer->send(cmd, jsonOf(shape));
            bool alive = peer->sync();
            std::string log = testing::internal::GetCapturedStdout();
            ASSERT_TRUE(alive);
            const int logged = countText(log, std::string("bad field: ") + cmd);
            if (i < 3 || (i == 3 && !readNothing.count(cmd))) {
                EXPECT_EQ(logged, 1) << log;
            } else {
                EXPECT_LE(logged, 1) << log;
            }
        }
    }
    // Group g1 survived every malformed edit, and the admin is still served.
    ASSERT_TRUE(admin->sync());
    admin->clearInbox();
    admin->send("query-groups");
    PeerFrame f;
    ASSERT_TRUE(admin->take("response-query-groups", f));
    bool found = false;
    for (const auto& g : f.msg["groups"]) {
        found = found || (g["groupId"] == "g1" && g["groupName"] == "One");
    }
    EXPECT_TRUE(found) << f.msg;
}

// Quotes, statement text and odd bytes in every kind of value come back exactly.
TEST(RobustnessTest, OddValuesAreStoredAndReadBackExactly) {
    const std::string odd[] = {
        "o'brien",      "'); drop table account; --",   "\" \\ %s %d %lld",
        "naïve 端末 ✓", std::string("nul\0inside", 10), "tab\tline\nfeed",
        "a,b",
    };
    CoreHarness h;
    auto admin = h.manager("adm");
    int n = 0;
    for (const auto& value : odd) {
        SCOPED_TRACE(n);
        const std::string tag = std::to_string(++n);
        // Account: every column, and a log-in with it.
        Json::Value acct;
        acct["userName"] = value + tag;
        acct["password"] = value;
        acct["role"] = value;
        acct["groups"].append(value);
        admin->send("append-account", acct);
        PeerFrame f;
        ASSERT_TRUE(admin->take("rsp-append-account", f));
        EXPECT_TRUE(f.msg["success"].asBool());
        QueryResult r;
        ASSERT_TRUE(
            h.server().querySql("select * from account where userName=?", r, {value + tag}));
        EXPECT_EQ(r.row(0), (std::vector<std::string>{value + tag, value, value, value + ","}));
        auto user = h.connect("u" + tag);
        Json::Value login;
        login["userName"] = value + tag;
        login["password"] = value;
        user->send("manager-login", login);
        ASSERT_TRUE(user->take("response-manager-login", f));
        EXPECT_EQ(f.msg["err"].asInt(), 0);
        EXPECT_EQ(f.msg["role"].asString(), value);

        // Group and endpoint: ids, names and member texts.
        Json::Value group;
        group["groupId"] = value + tag;
        group["groupName"] = value;
        admin->send("add-group", group);
        auto dev = h.connect(value + tag);
        Json::Value devLogin;
        devLogin["devName"] = value;
        dev->send("endpoint-login", devLogin);
        ASSERT_TRUE(dev->take("notify-connected", f));
        EXPECT_EQ(f.msg["devId"].asString(), value + tag);
        Json::Value members;
        members["groupId"] = value + tag;
        members["endpoints"].append(value + tag);
        admin->send("add-member-to-group", members);
        ASSERT_TRUE(admin->sync());
        ASSERT_TRUE(h.server().querySql("select * from endpoints where devId=?", r, {value + tag}));
        EXPECT_EQ(r.cell(0, "devName"), value);
    }
    admin.reset();
    h.restart();
    admin = h.manager("adm");
    admin->send("query-groups");
    PeerFrame f;
    ASSERT_TRUE(admin->take("response-query-groups", f));
    ASSERT_EQ(f.msg["groups"].size(), std::size(odd));
    n = 0;
    for (const auto& value : odd) {
        const std::string tag = std::to_string(++n);
        const Json::Value& g = f.msg["groups"][n - 1];
        EXPECT_EQ(g["groupId"].asString(), value + tag);
        EXPECT_EQ(g["groupName"].asString(), value);
        ASSERT_EQ(g["members"].size(), 1u);
        EXPECT_EQ(g["members"][0].asString(), value + tag);
    }
}

TEST(RobustnessTest, SecondStartLogsTwoFailedStatements) {
    CoreHarness h;
    testing::internal::CaptureStdout();
    h.restart();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countText(log, "exec sql failed: "), 2) << log;
    EXPECT_EQ(countText(log, "exec sql failed: insert into account values('admin'"), 1);
    EXPECT_EQ(countText(log, "exec sql failed: create table schedule("), 1);
}

TEST(RobustnessTest, UnknownCommandsAreOnlyLogged) {
    CoreHarness h;
    auto admin = h.manager("adm");
    for (const char* cmd : {"no-such-cmd", "Query-Account", "Add-Schedule"}) {
        testing::internal::CaptureStdout();
        admin->send(cmd, jsonOf(R"({"x":1})"));
        ASSERT_TRUE(admin->sync());
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(countText(log, std::string("unhandled cmd: ") + cmd), 1) << log;
        EXPECT_EQ(admin->inbox().size(), 0u);
    }
}
