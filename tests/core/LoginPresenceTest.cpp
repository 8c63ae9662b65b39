#include <gtest/gtest.h>

#include "tests/core/CoreHarness.h"

namespace {

int login(Peer& peer, const std::string& user, const std::string& password, Json::Value* role) {
    Json::Value msg;
    msg["userName"] = user;
    msg["password"] = password;
    peer.send("manager-login", msg);
    PeerFrame reply;
    EXPECT_TRUE(peer.take("response-manager-login", reply));
    if (role) {
        *role = reply.msg.get("role", Json::Value());
    }
    return reply.msg["err"].asInt();
}

}  // namespace

TEST(LoginPresenceTest, LoginCodes) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("append-account",
                jsonOf(R"({"userName":"ops","password":"pw","role":"viewer","groups":["g1"]})"));
    PeerFrame appended;
    ASSERT_TRUE(admin->take("rsp-append-account", appended));

    struct Case {
        std::string user;
        std::string password;
        int err;
        std::string role;  // empty: no "role" key
    };
    const Case cases[] = {
        {"admin", kAdminDigest, 0, "admin"},
        {"admin", "907580", 2, ""},
        {"admin", "0F3D58864D5E607B8809696A25DD9BF1", 2, ""},
        {"admin", "", 2, ""},
        {"nobody", kAdminDigest, 1, ""},
        {"", "", 1, ""},
        {"Admin", kAdminDigest, 1, ""},
        {"ops", "pw", 0, "viewer"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.user + "/" + c.password);
        auto peer = h.connect("p-" + c.user);
        Json::Value role;
        EXPECT_EQ(login(*peer, c.user, c.password, &role), c.err);
        if (c.role.empty()) {
            EXPECT_TRUE(role.isNull());
        } else {
            EXPECT_EQ(role.asString(), c.role);
        }
    }
}

TEST(LoginPresenceTest, RepeatedLoginKeepsOneManagerAndFailedLoginChangesNothing) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("append-account",
                jsonOf(R"({"userName":"ops","password":"pw","role":"viewer","groups":[]})"));
    PeerFrame appended;
    ASSERT_TRUE(admin->take("rsp-append-account", appended));

    auto peer = h.connect("m1");
    Json::Value role;
    ASSERT_EQ(login(*peer, "admin", kAdminDigest, &role), 0);
    ASSERT_EQ(login(*peer, "ops", "pw", &role), 0);
    EXPECT_EQ(role.asString(), "viewer");
    EXPECT_EQ(login(*peer, "ops", "wrong", &role), 2);
    EXPECT_EQ(h.server().managerConnIds(), (std::vector<std::string>{"adm", "m1"}));
    // The second log-in's role holds: a viewer sees no endpoints of no group.
    auto dev = h.endpoint("d1");
    peer->clearInbox();
    peer->send("query-endpoints");
    PeerFrame list;
    ASSERT_TRUE(peer->take("response-query-endpoints", list));
    EXPECT_TRUE(list.msg["endpoints"].isNull());

    peer->send("manager-logout");
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(h.server().managerConnIds(), (std::vector<std::string>{"adm"}));
}

TEST(LoginPresenceTest, EndpointRowIsInsertedUpdatedAndKept) {
    CoreHarness h;
    {
        auto dev = h.connect("d1");
        dev->send("endpoint-login", jsonOf(R"({"devName":"Hall"})"));
        PeerFrame notice;
        ASSERT_TRUE(dev->take("notify-connected", notice));
        EXPECT_EQ(notice.src, "00000000-0000-0000-0000-000000000000");
        EXPECT_EQ(notice.msg["devId"].asString(), "d1");
        EXPECT_EQ(notice.msg["devName"].asString(), "Hall");
        EXPECT_EQ(notice.msg["serverInfo"]["version"].asString(), "1.0.4");
        EXPECT_EQ(notice.msg["serverInfo"]["httpPort"].asInt(), 12380);
        dev->send("endpoint-login", jsonOf(R"({"devName":"Gym"})"));
        ASSERT_TRUE(dev->take("notify-connected", notice));
    }
    h.restart();
    QueryResult rows;
    ASSERT_TRUE(h.server().querySql("select * from endpoints", rows));
    ASSERT_EQ(rows.rowCount(), 1u);
    EXPECT_EQ(rows.cell(0, "devName"), "Gym");
}

// Who hears of an endpoint: admins always, limited managers through a shared group.
TEST(LoginPresenceTest, PresenceReachesAdminsAndManagersOfItsGroups) {
    CoreHarness h;
    auto admin = h.manager("adm");
    admin->send("append-account",
                jsonOf(R"({"userName":"l1","password":"p","role":"teacher","groups":["g1"]})"));
    admin->send("append-account",
                jsonOf(R"({"userName":"l2","password":"p","role":"teacher","groups":["g2"]})"));
    admin->send("add-group", jsonOf(R"({"groupId":"g1","groupName":"One"})"));
    admin->send("add-member-to-group", jsonOf(R"({"groupId":"g1","endpoints":["inG1"]})"));
    ASSERT_TRUE(admin->sync());
    auto lim1 = h.manager("lim1", "l1", "p");
    auto lim2 = h.manager("lim2", "l2", "p");
    admin->clearInbox();

    struct Case {
        std::string devId;
        bool toLim1;
    };
    const Case cases[] = {{"inG1", true}, {"noGroup", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.devId);
        auto dev = h.endpoint(c.devId, "name-" + c.devId);
        dev->send("forward-data-to-manager", jsonOf(R"({"cmd":"status","msg":{"volume":[1,2]}})"),
                  std::string("\0\x01\xff", 3));
        ASSERT_TRUE(dev->sync());
        for (Peer* p : {admin.get(), lim1.get(), lim2.get()}) {
            ASSERT_TRUE(p->sync());
        }
        PeerFrame f;
        ASSERT_TRUE(admin->take("notify-connected", f));
        EXPECT_EQ(f.msg["devId"].asString(), c.devId);
        EXPECT_EQ(f.msg["devName"].asString(), "name-" + c.devId);
        ASSERT_TRUE(admin->take("status", f));
        EXPECT_EQ(f.src, c.devId);
        EXPECT_EQ(f.msg, jsonOf(R"({"volume":[1,2]})"));
        EXPECT_EQ(f.binary, std::string("\0\x01\xff", 3));
        EXPECT_EQ(lim1->count("notify-connected"), c.toLim1 ? 1 : 0);
        EXPECT_EQ(lim1->count("status"), c.toLim1 ? 1 : 0);
        EXPECT_EQ(lim2->count("notify-connected"), 0);
        EXPECT_EQ(lim2->count("status"), 0);
        EXPECT_EQ(dev->count("status"), 0);

        // Disconnection reaches every manager, also those that never saw it.
        dev->close();
        for (Peer* p : {admin.get(), lim1.get(), lim2.get()}) {
            ASSERT_TRUE(p->take("notify-disconnected", f));
            EXPECT_EQ(f.src, c.devId);
            EXPECT_TRUE(f.msg.isNull());
            p->clearInbox();
        }
    }

    // A manager that leaves is removed without any notice.
    lim2->close();
    ASSERT_TRUE(admin->sync());
    ASSERT_TRUE(lim1->sync());
    EXPECT_EQ(admin->count("notify-disconnected"), 0);
    for (int i = 0; i < 100 && h.server().managerConnIds().size() != 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(h.server().managerConnIds(), (std::vector<std::string>{"adm", "lim1"}));
}
