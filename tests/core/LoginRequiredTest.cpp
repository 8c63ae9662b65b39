#include <gtest/gtest.h>

#include "tests/core/CoreHarness.h"

namespace {

struct Outcome {
    bool refused;
    std::string reply;  // the frame that came back, "" for none
};

Outcome issue(Peer& peer, const std::string& cmd, const Json::Value& msg) {
    // Broadcasts caused by other peers arrive first and are put aside.
    EXPECT_TRUE(peer.sync());
    peer.clearInbox();
    testing::internal::CaptureStdout();
    peer.send(cmd, msg);
    EXPECT_TRUE(peer.sync());
    std::string log = testing::internal::GetCapturedStdout();
    Outcome out{countText(log, "refused cmd: " + cmd) == 1, ""};
    for (const auto& f : peer.inbox()) {
        if (f.cmd == "rsp-append-account") {
            out.reply = "success=" + std::string(f.msg["success"].asBool() ? "true" : "false");
        } else if (f.cmd == "upload-file-response") {
            out.reply = "code=" + std::to_string(f.msg["code"].asInt());
        } else if (!f.cmd.empty()) {
            out.reply = f.cmd;
        }
    }
    return out;
}

}  // namespace

TEST(LoginRequiredTest, AnonymousAndLimitedManagersAreRefused) {
    CoreHarness h(true);
    {
        auto admin = h.manager("adm");
        admin->send("append-account",
                    jsonOf(R"({"userName":"t","password":"p","role":"teacher","groups":[]})"));
        PeerFrame f;
        ASSERT_TRUE(admin->take("rsp-append-account", f));
    }
    auto anonymous = h.connect("anon");
    auto teacher = h.manager("tch", "t", "p");
    auto admin = h.manager("adm");

    struct Case {
        std::string cmd;
        std::string msg;
        std::string anonymousReply;  // "" none; refusal is expected for anonymous
        bool teacherRefused;
        std::string adminReply;
    };
    const Case cases[] = {
        {"query-endpoints", "{}", "", false, "response-query-endpoints"},
        {"query-groups", "{}", "", false, "response-query-groups"},
        {"add-group", R"({"groupId":"g","groupName":"G"})", "", false, ""},
        {"upload-file-start", R"({"fileName":"a.bin","md5":"X"})", "code=2", false, "code=0"},
        {"upload-file-data", "{}", "code=2", false, "code=0"},
        {"upload-file-terminate", "{}", "", false, ""},
        {"upload-file-end", "{}", "code=2", false, "code=2"},
        {"query-account", "{}", "", true, "response-account"},
        {"append-account", R"({"userName":"x","password":"p","role":"r"})", "success=false", true,
         "success=true"},
        {"modify-account", R"({"userName":"x","groups":["g"]})", "", true, ""},
        {"remove-account", R"({"userName":"x"})", "", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cmd);
        Outcome a = issue(*anonymous, c.cmd, jsonOf(c.msg));
        EXPECT_TRUE(a.refused);
        EXPECT_EQ(a.reply, c.anonymousReply);
        Outcome t = issue(*teacher, c.cmd, jsonOf(c.msg));
        EXPECT_EQ(t.refused, c.teacherRefused);
        if (c.teacherRefused) {
            EXPECT_EQ(t.reply, c.anonymousReply);
        }
        Outcome m = issue(*admin, c.cmd, jsonOf(c.msg));
        EXPECT_FALSE(m.refused);
        EXPECT_EQ(m.reply, c.adminReply);
    }
}

TEST(LoginRequiredTest, RefusedCommandsChangeNothingAndOpenOnesStayOpen) {
    CoreHarness h(true);
    auto anonymous = h.connect("anon");
    for (const char* cmd : {"add-group", "append-account", "remove-account"}) {
        anonymous->send(cmd, jsonOf(R"({"groupId":"g","groupName":"G","userName":"admin"})"));
    }
    ASSERT_TRUE(anonymous->sync());
    QueryResult r;
    ASSERT_TRUE(h.server().querySql("select * from groups", r));
    EXPECT_EQ(r.rowCount(), 0u);
    ASSERT_TRUE(h.server().querySql("select * from account", r));
    EXPECT_EQ(r.rowCount(), 1u);

    // Log-ins and endpoint traffic need no manager.
    auto admin = h.manager("adm");
    auto dev = h.endpoint("d1");
    dev->send("forward-data-to-manager", jsonOf(R"({"cmd":"hello"})"));
    dev->send("update-information", jsonOf("{}"));
    PeerFrame f;
    EXPECT_TRUE(admin->take("hello", f));

    // After log-out the connection is anonymous again.
    admin->send("manager-logout");
    Outcome out = issue(*admin, "query-groups", jsonOf("{}"));
    EXPECT_TRUE(out.refused);
}

// A connection that takes a logged-in manager's id does not inherit its rights.
TEST(LoginRequiredTest, RightsBelongToTheConnectionNotTheId) {
    CoreHarness h(true);
    auto admin = h.manager("adm");
    auto impostor = h.connect("adm");
    Outcome out = issue(*impostor, "query-account", jsonOf("{}"));
    EXPECT_TRUE(out.refused);
    EXPECT_EQ(out.reply, "");
}
