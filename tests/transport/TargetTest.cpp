#include "server/transport/Target.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct TargetCase {
    std::string text;
    bool parsed;
    TargetPolicy policy;
    std::vector<std::string> dst;
};

}  // namespace

TEST(ParseTarget, Table) {
    const std::vector<TargetCase> cases = {
        {R"({"policy":"to-group","dst":["g1","g2"]})", true, ToGroup, {"g1", "g2"}},
        {R"({"policy":"to-target","dst":["b","a","b"]})", true, ToTarget, {"b", "a", "b"}},
        {R"({"policy":"to-all","dst":["a"]})", true, ToAll, {}},
        {R"({"dst":["a"]})", true, ToAll, {}},
        {R"({"policy":"TO-GROUP","dst":["g1"]})", true, ToAll, {}},
        {R"({"policy":2,"dst":["a"]})", true, ToAll, {}},
        {R"({"policy":"to-target","dst":"a"})", true, ToTarget, {}},
        {R"({"policy":"to-target","dst":{"0":"a"}})", true, ToTarget, {}},
        {R"({"policy":"to-target","dst":[]})", true, ToTarget, {}},
        {R"({"policy":"to-target"})", true, ToTarget, {}},
        // Numbers have a text form; arrays and objects name no one.
        {R"({"policy":"to-target","dst":[7,"a",["x"],{"y":1}]})", true, ToTarget, {"7", "a"}},
        {R"([{"policy":"to-group","dst":["g1"]}])", false, ToAll, {}},
        {"", false, ToAll, {}},
        {"to-group", false, ToAll, {}},
        {R"({"policy":"to-group","dst":["g1"]} // c)", false, ToAll, {}},
        {R"({"policy":"to-group","dst":["g1"]})"
         "\n",
         true,
         ToGroup,
         {"g1"}},
    };
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.text);
        Target target;
        target.src = "kept";
        EXPECT_EQ(c.parsed, parseTarget(c.text, target));
        EXPECT_EQ(c.policy, target.policy);
        EXPECT_EQ(c.dst, target.dst);
        EXPECT_EQ("kept", target.src);
    }
}
