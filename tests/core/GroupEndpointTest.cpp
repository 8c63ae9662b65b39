#include <gtest/gtest.h>

#include "tests/core/CoreHarness.h"

namespace {

std::string storedMembers(CoreHarness& h, const std::string& groupId) {
    QueryResult r;
    EXPECT_TRUE(h.server().querySql("select * from groups where groupId=?", r, {groupId}));
    return r.cell(0, "groupMembers");
}

Json::Value query(Peer& peer, const std::string& cmd, const std::string& reply) {
    peer.send(cmd);
    PeerFrame f;
    EXPECT_TRUE(peer.take(reply, f)) << cmd;
    return f.msg;
}

}  // namespace

TEST(GroupEndpointTest, MemberTextsInTableAndAfterRestart) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    ASSERT_TRUE(admin->sync());
    EXPECT_EQ(storedMembers(h, "g1"), "");  // a fresh group's member column is NULL

    struct Step {
        std::string cmd;
        std::string endpoints;
        std::string stored;
    };
    const Step steps[] = {
        {"add-member-to-group", R"(["d1","d2"])", "[\"d1\",\"d2\"]\n"},
        {"add-member-to-group", R"(["d1"])", "[\"d1\",\"d2\"]\n"},
        {"del-member-from-group", R"(["zz"])", "[\"d1\",\"d2\"]\n"},
        {"del-member-from-group", R"(["d1","d2"])", "null\n"},
        {"add-member-to-group", R"(["d3"])", "[\"d3\"]\n"},
        {"del-member-from-group", R"(["d3"])", "null\n"},
    };
    for (const auto& s : steps) {
        Json::Value msg;
        msg["groupId"] = "g1";
        msg["endpoints"] = jsonOf(s.endpoints);
        admin->send(s.cmd, msg);
        ASSERT_TRUE(admin->sync());
        EXPECT_EQ(storedMembers(h, "g1"), s.stored) << s.cmd << " " << s.endpoints;
    }
    // A member command for a group that is not there does nothing at all.
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"nope","endpoints":["d1"]})"));
    ASSERT_TRUE(admin->sync());
    QueryResult all;
    ASSERT_TRUE(h.server().querySql("select * from groups", all));
    EXPECT_EQ(all.rowCount(), 1u);

    admin.reset();
    h.restart();
    admin = h.manager("adm");
    Json::Value groups = query(*admin, "query-groups", "response-query-groups")["groups"];
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]["groupId"].asString(), "g1");
    EXPECT_FALSE(groups[0].isMember("members"));
}

TEST(GroupEndpointTest, QueryRepliesGoToAllWithNullOrArrays) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("append-account",
                jsonOf(R"({"userName":"t","password":"p","role":"teacher","groups":["g1"]})"));
    admin->send("append-account",
                jsonOf(R"({"userName":"u","password":"p","role":"teacher","groups":["g9"]})"));
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    admin->send("add-group", jsonOf(R"({"groupId":"g2","groupName":"Two"})"));
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"g1","endpoints":["on","off"]})"));
    ASSERT_TRUE(admin->sync());
    auto on = h.endpoint("on");
    { auto off = h.endpoint("off"); }
    auto other = h.endpoint("other");
    auto teacher = h.manager("tch", "t", "p");
    auto outsider = h.manager("out", "u", "p");
    auto anonymous = h.connect("anon");
    ASSERT_TRUE(anonymous->sync());

    struct Case {
        Peer* asker;
        std::string endpoints;  // expected devId:online list, or "null"
        std::string groups;     // expected group ids, or "null"
    };
    const Case cases[] = {
        {anonymous.get(), "null", "null"},
        {outsider.get(), "null", "null"},
        {teacher.get(), "on:1 off:0", "g1"},
        {admin.get(), "on:1 off:0 other:1", "g1 g2"},
    };
    auto describeEndpoints = [](const Json::Value& list) {
        if (list.isNull()) {
            return std::string("null");
        }
        std::string text;
        for (const auto& e : list) {
            text += (text.empty() ? "" : " ") + e["devId"].asString() + ":" +
                    (e["online"].asBool() ? "1" : "0");
        }
        return text;
    };
    auto describeGroups = [](const Json::Value& list) {
        if (list.isNull()) {
            return std::string("null");
        }
        std::string text;
        for (const auto& g : list) {
            text += (text.empty() ? "" : " ") + g["groupId"].asString();
        }
        return text;
    };
    std::vector<Peer*> everyone = {admin.get(),   on.get(),       other.get(),
                                   teacher.get(), outsider.get(), anonymous.get()};
    for (const auto& c : cases) {
        for (Peer* p : everyone) {
            p->clearInbox();
        }
        c.asker->send("query-endpoints");
        c.asker->send("query-groups");
        ASSERT_TRUE(c.asker->sync());
        // Every registered connection gets the requester's answer.
        for (Peer* p : everyone) {
            PeerFrame e;
            PeerFrame g;
            ASSERT_TRUE(p->take("response-query-endpoints", e));
            ASSERT_TRUE(p->take("response-query-groups", g));
            EXPECT_EQ(describeEndpoints(e.msg["endpoints"]), c.endpoints);
            EXPECT_EQ(describeGroups(g.msg["groups"]), c.groups);
        }
    }
}

TEST(GroupEndpointTest, GroupEditsReachConnectionsAtOnce) {
    CoreHarness h;
    auto admin = h.manager("adm");
    auto d1 = h.endpoint("d1");
    auto d2 = h.endpoint("d2");
    const std::string toG1 =
        R"({"cmd":"ping","msg":null,"dataFlow":"{\"policy\":\"to-group\",\"dst\":[\"g1\"]}"})";
    auto pingG1 = [&] {
        admin->send("forward-data", jsonOf(toG1));
        EXPECT_TRUE(admin->sync());
        EXPECT_TRUE(d1->sync());
        EXPECT_TRUE(d2->sync());
        std::string who = std::to_string(d1->count("ping")) + std::to_string(d2->count("ping"));
        d1->clearInbox();
        d2->clearInbox();
        return who;
    };

    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    ASSERT_TRUE(admin->sync());
    EXPECT_EQ(pingG1(), "00");
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"g1","endpoints":["d1","d2"]})"));
    EXPECT_EQ(pingG1(), "11");
    admin->send("del-member-from-group", jsonOf(R"({"groupId":"g1","endpoints":["d2"]})"));
    EXPECT_EQ(pingG1(), "10");

    // A duplicate id changes nothing and logs the failed insert once.
    testing::internal::CaptureStdout();
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"Dup"})"));
    ASSERT_TRUE(admin->sync());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(countText(log, "exec sql failed: "), 1) << log;
    admin->send("update-group", jsonOf(R"({"groupId":"g1"})"));
    admin->send("update-group", jsonOf(R"({"groupId":"g1","groupName":"Renamed"})"));
    admin->send("query-groups");
    PeerFrame f;
    ASSERT_TRUE(admin->take("response-query-groups", f));
    ASSERT_EQ(f.msg["groups"].size(), 1u);
    EXPECT_EQ(f.msg["groups"][0]["groupName"].asString(), "Renamed");
    EXPECT_EQ(f.msg["groups"][0]["members"], jsonOf(R"(["d1"])"));

    admin->send("del-group", jsonOf(R"({"groupId":"g1"})"));
    EXPECT_EQ(pingG1(), "00");

    admin->send("add-group", jsonOf(R"({"groupId":"g2","groupName":"Two"})"));
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"g1","endpoints":["d2"]})"));
    EXPECT_EQ(pingG1(), "01");
    admin->send("clear-groups");
    EXPECT_EQ(pingG1(), "00");
    QueryResult rows;
    ASSERT_TRUE(h.server().querySql("select * from groups", rows));
    EXPECT_EQ(rows.rowCount(), 0u);
    admin->send("query-groups");
    ASSERT_TRUE(admin->take("response-query-groups", f));
    EXPECT_TRUE(f.msg["groups"].isNull());
}

TEST(GroupEndpointTest, RemoveEndpointsDropsRowsRecordsAndMemberships) {
    CoreHarness h;
    auto admin = h.manager("adm");
    auto a = h.endpoint("a");
    auto b = h.endpoint("b");
    auto c = h.endpoint("c");
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    admin->send("add-group", jsonOf(R"({"groupId":"g2","groupName":"Two"})"));
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"g1","endpoints":["a","b","c"]})"));
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"g2","endpoints":["b"]})"));
    // Two adjacent records, then the last record of the list.
    admin->send("remove-endpoints", jsonOf(R"({"endpoints":["a","b"]})"));
    ASSERT_TRUE(admin->sync());
    EXPECT_EQ(storedMembers(h, "g1"), "[\"c\"]\n");
    EXPECT_EQ(storedMembers(h, "g2"), "null\n");
    admin->send("remove-endpoints", jsonOf(R"({"endpoints":["c"]})"));
    ASSERT_TRUE(admin->sync());
    QueryResult rows;
    ASSERT_TRUE(h.server().querySql("select * from endpoints", rows));
    EXPECT_EQ(rows.rowCount(), 0u);
    EXPECT_EQ(storedMembers(h, "g1"), "null\n");
    // The connections stay open and are not told.
    EXPECT_TRUE(a->sync());
    EXPECT_EQ(a->inbox().size(), 0u);
}
