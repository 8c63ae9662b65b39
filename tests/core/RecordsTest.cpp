#include <gtest/gtest.h>

#include <memory>

#include "server/core/AccountGroups.h"
#include "server/core/JsonText.h"
#include "server/core/NetGroup.h"
#include "server/core/Request.h"

namespace {

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1)) {
        ++n;
    }
    return n;
}

Json::Value parse(const std::string& text) {
    Json::Value v;
    EXPECT_TRUE(parseStoredJson(text, v)) << text;
    return v;
}

}  // namespace

TEST(RecordsTest, MemberTextIsCompactArrayOrNullWithLineFeed) {
    struct Case {
        std::vector<std::string> members;
        std::string text;
    };
    const Case cases[] = {
        {{}, "null\n"},
        {{"d1"}, "[\"d1\"]\n"},
        {{"d1", "d2", "d3"}, "[\"d1\",\"d2\",\"d3\"]\n"},
        {{"a\"b", "c\\d"}, "[\"a\\\"b\",\"c\\\\d\"]\n"},
    };
    for (const auto& c : cases) {
        _NetGroup g;
        g.members = c.members;
        EXPECT_EQ(g.membersText(), c.text);
        EXPECT_EQ(_NetGroup::parseMembers(c.text), c.members);
    }
}

TEST(RecordsTest, OddMemberIdsRoundTrip) {
    _NetGroup g;
    g.members = {"o'brien",   std::string("nul\0id", 6),  "\xff\xfe raw", "naïve 端末",
                 "tab\tnl\n", "'); drop table groups; --"};
    EXPECT_EQ(_NetGroup::parseMembers(g.membersText()), g.members);
}

TEST(RecordsTest, UnreadableMemberTextsGiveNoMembers) {
    const std::string texts[] = {
        "", "null\n", "garbage", "{\"a\":1}", "\"just text\"", "[\"a\"", std::string(100000, '['),
    };
    for (const auto& text : texts) {
        EXPECT_TRUE(_NetGroup::parseMembers(text).empty()) << text.substr(0, 20);
    }
    // Elements that are not plain values are skipped, the rest kept.
    EXPECT_EQ(_NetGroup::parseMembers("[\"a\",[\"x\"],{\"y\":1},7]"),
              (std::vector<std::string>{"a", "7"}));
}

TEST(RecordsTest, MemberListEditsKeepOrderAndUniqueness) {
    _NetGroup g;
    EXPECT_TRUE(g.addMember("a"));
    EXPECT_TRUE(g.addMember("b"));
    EXPECT_FALSE(g.addMember("a"));
    EXPECT_EQ(g.members, (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(g.removeMember("zz"));
    EXPECT_TRUE(g.removeMember("a"));
    EXPECT_TRUE(g.removeMember("b"));
    EXPECT_EQ(g.membersText(), "null\n");
}

TEST(RecordsTest, AccountGroupsTextJoinsAndSplitsWithTrailingComma) {
    struct Case {
        std::vector<std::string> ids;
        std::string text;
    };
    const Case cases[] = {
        {{}, ""},
        {{"g1"}, "g1,"},
        {{"g1", "g2"}, "g1,g2,"},
        {{"o'q", "x y"}, "o'q,x y,"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(joinAccountGroups(c.ids), c.text);
        EXPECT_EQ(splitAccountGroups(c.text), c.ids);
    }
    // Texts written by hand or by older tools: empty pieces are left out.
    EXPECT_EQ(splitAccountGroups(",g1,,g2"), (std::vector<std::string>{"g1", "g2"}));
}

TEST(RecordsTest, CompactJsonMatchesStoredForm) {
    Json::Value obj;
    obj["b"] = 1;
    obj["a"] = Json::Value(Json::arrayValue);
    EXPECT_EQ(compactJson(obj), "{\"a\":[],\"b\":1}\n");
    EXPECT_EQ(compactJson(Json::Value()), "null\n");
    EXPECT_EQ(parse("[1]\n"), parse("[1]"));
}

// Every field read of the wrong type reads as absent and logs once per request.
TEST(RecordsTest, WrongFieldTypesReadAsAbsentAndLogOnce) {
    struct Case {
        std::string msgText;
        std::string text;
        std::vector<std::string> texts;
        int64_t size;
        int logLines;
    };
    const Case cases[] = {
        {"{\"t\":\"x\",\"l\":[\"a\",\"b\"],\"n\":5}", "x", {"a", "b"}, 5, 0},
        {"{\"t\":12,\"l\":[1,true],\"n\":5.0}", "12", {"1", "true"}, 5, 0},
        {"{}", "", {}, 0, 0},
        {"{\"t\":null,\"l\":null,\"n\":null}", "", {}, 0, 0},
        {"{\"t\":{\"o\":1},\"l\":\"a\",\"n\":\"5\"}", "", {}, 0, 1},
        {"{\"t\":[\"x\"],\"l\":{\"a\":1},\"n\":[5]}", "", {}, 0, 1},
        {"{\"t\":\"x\",\"l\":[\"a\",{\"b\":1},\"c\"],\"n\":5.5}", "x", {"a", "c"}, 0, 1},
        {"{\"n\":1e30}", "", {}, 0, 1},
        {"[1,2]", "", {}, 0, 1},
        {"\"text\"", "", {}, 0, 1},
        {"7", "", {}, 0, 1},
    };
    std::shared_ptr<TcpClient> none;
    const std::string connId = "c1";
    const std::string cmd = "some-cmd";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.msgText);
        Json::Value msg;
        std::string errors;
        std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
        ASSERT_TRUE(
            reader->parse(c.msgText.data(), c.msgText.data() + c.msgText.size(), &msg, &errors));
        testing::internal::CaptureStdout();
        Request req(none, connId, cmd, msg, nullptr, 0);
        EXPECT_EQ(req.text("t"), c.text);
        EXPECT_EQ(req.texts("l"), c.texts);
        EXPECT_EQ(req.int64("n"), c.size);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ(count(log, "bad field: some-cmd"), c.logLines) << log;
    }
}
