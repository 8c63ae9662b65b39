#include <gtest/gtest.h>

#include "tests/core/CoreHarness.h"

namespace {

Json::Value accounts(Peer& peer) {
    peer.send("query-account");
    PeerFrame f;
    EXPECT_TRUE(peer.take("response-account", f));
    return f.msg;
}

bool append(Peer& peer, const std::string& json) {
    peer.send("append-account", jsonOf(json));
    PeerFrame f;
    EXPECT_TRUE(peer.take("rsp-append-account", f));
    return f.msg["success"].asBool();
}

std::vector<std::string> storedRow(CoreHarness& h, const std::string& user) {
    QueryResult r;
    EXPECT_TRUE(h.server().querySql("select * from account where userName=?", r, {user}));
    return r.row(0);
}

}  // namespace

TEST(AccountTest, FreshListHasOnlyAdminWithoutGroups) {
    CoreHarness h;
    auto peer = h.connect("");  // replies come on the connection, registered or not
    Json::Value list = accounts(*peer);
    ASSERT_EQ(list["accounts"].size(), 1u);
    EXPECT_EQ(list["accounts"][0], jsonOf(R"({"userName":"admin","role":"admin"})"));
}

TEST(AccountTest, StoredGroupsTextAndListedGroups) {
    CoreHarness h;
    auto admin = h.manager("adm");
    struct Case {
        std::string request;
        std::string storedGroups;
        std::string listed;  // JSON of the listed "groups", or "" for no key
    };
    const Case cases[] = {
        {R"({"userName":"a","password":"p","role":"r","groups":["g1","g2"]})", "g1,g2,",
         R"(["g1","g2"])"},
        {R"({"userName":"b","password":"p","role":"r","groups":[]})", "", ""},
        {R"({"userName":"c","password":"p","role":"r"})", "", ""},
        {R"({"userName":"d","password":"p","role":"r","groups":["only"]})", "only,", R"(["only"])"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        EXPECT_TRUE(append(*admin, c.request));
        std::string user = jsonOf(c.request)["userName"].asString();
        EXPECT_EQ(storedRow(h, user)[3], c.storedGroups);
        Json::Value list = accounts(*admin)["accounts"];
        Json::Value entry;
        for (const auto& e : list) {
            if (e["userName"].asString() == user) {
                entry = e;
            }
        }
        EXPECT_FALSE(entry.isMember("password"));
        if (c.listed.empty()) {
            EXPECT_FALSE(entry.isMember("groups"));
        } else {
            EXPECT_EQ(entry["groups"], jsonOf(c.listed));
        }
    }
}

TEST(AccountTest, OverwriteModifyAndRemove) {
    CoreHarness h;
    auto admin = h.manager("adm");
    ASSERT_TRUE(append(*admin, R"({"userName":"t","password":"p1","role":"r1","groups":["a"]})"));
    testing::internal::CaptureStdout();
    bool overwritten =
        append(*admin, R"({"userName":"t","password":"p2","role":"r2","groups":["b","c"]})");
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(overwritten);
    EXPECT_EQ(countText(log, "exec sql failed: insert into account"), 1) << log;
    EXPECT_EQ(storedRow(h, "t"), (std::vector<std::string>{"t", "p2", "r2", "b,c,"}));

    // A logged-in manager keeps what it had until it logs in again.
    auto t = h.manager("tm", "t", "p2");
    admin->send("add-group", jsonOf(R"({"groupId":"b","groupName":"B"})"));
    admin->send("add-group", jsonOf(R"({"groupId":"x","groupName":"X"})"));
    admin->send("modify-account", jsonOf(R"({"userName":"t","groups":["x"]})"));
    ASSERT_TRUE(admin->sync());
    EXPECT_EQ(storedRow(h, "t"), (std::vector<std::string>{"t", "p2", "r2", "x,"}));
    t->send("query-groups");
    PeerFrame f;
    ASSERT_TRUE(t->take("response-query-groups", f));
    ASSERT_EQ(f.msg["groups"].size(), 1u);
    EXPECT_EQ(f.msg["groups"][0]["groupId"].asString(), "b");
    t = h.manager("tm2", "t", "p2");
    t->send("query-groups");
    ASSERT_TRUE(t->take("response-query-groups", f));
    ASSERT_EQ(f.msg["groups"].size(), 1u);
    EXPECT_EQ(f.msg["groups"][0]["groupId"].asString(), "x");

    // Unknown names change nothing and report nothing.
    admin->send("modify-account", jsonOf(R"({"userName":"ghost","groups":["x"]})"));
    admin->send("remove-account", jsonOf(R"({"userName":"ghost"})"));
    admin->send("remove-account", jsonOf(R"({"userName":"t"})"));
    ASSERT_TRUE(admin->sync());
    EXPECT_EQ(accounts(*admin)["accounts"].size(), 1u);
}

TEST(AccountTest, RemovedAdminReturnsAtNextStart) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("remove-account", jsonOf(R"({"userName":"admin"})"));
    ASSERT_TRUE(admin->sync());
    EXPECT_TRUE(accounts(*admin).isNull());
    admin.reset();
    h.restart();
    EXPECT_EQ(storedRow(h, "admin"),
              (std::vector<std::string>{"admin", kAdminDigest, "admin", ""}));
}
