#include "server/transport/Frame.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "tests/support/FrameClient.h"

namespace {

std::string bytesOf(const FramePtr& frame) {
    return std::string(reinterpret_cast<const char*>(frame->getBuffer()), frame->getLen());
}

std::string u32(uint32_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>(v >> (8 * i)));
    }
    return out;
}

// Header with the given N and J and nothing behind it.
std::string header(uint32_t n, uint32_t j) {
    return u32(n) + u32(j);
}

const uint8_t* bytePtr(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

}  // namespace

TEST(BuildFrame, HeartbeatIsTheExact84Bytes) {
    const std::string text =
        "{\"cmd\":\"heartbeat\",\"msg\":null,\"src\":\"00000000-0000-0000-0000-000000000000\"}\n";
    const std::string expected = std::string("\x50\x00\x00\x00\x4C\x00\x00\x00", 8) + text;
    ASSERT_EQ(84u, expected.size());
    EXPECT_EQ(expected, bytesOf(buildFrame("heartbeat", Json::Value(), kServerId, nullptr, 0)));
}

TEST(BuildFrame, LaysOutCompactJsonThenTheBinaryTailAndKeepsTextBytes) {
    Json::Value msg;
    msg["zeta"] = 1;
    msg["name"] = "Aula \xC3\xA9t\xC3\xA9";  // UTF-8 passes through unescaped
    msg["list"].append("a");
    const std::string tail("\x00\x01\xFF", 3);
    const std::string bytes =
        bytesOf(buildFrame("do-x", msg, "dev-1", bytePtr(tail), static_cast<int32_t>(tail.size())));
    const std::string text =
        "{\"cmd\":\"do-x\",\"msg\":{\"list\":[\"a\"],\"name\":\"Aula \xC3\xA9t\xC3\xA9\","
        "\"zeta\":1},\"src\":\"dev-1\"}\n";
    EXPECT_EQ(header(static_cast<uint32_t>(text.size() + tail.size() + 4),
                     static_cast<uint32_t>(text.size())) +
                  text + tail,
              bytes);
}

TEST(BuildFrame, RefusesFramesNoPeerCouldAccept) {
    const std::string base = bytesOf(buildFrame("x", Json::Value(), "", nullptr, 0));
    const auto j = static_cast<int32_t>(base.size() - 8);
    // The largest legal N is 0xFFFFFF: J + tail + 4.
    const std::vector<uint8_t> big(0xFFFFFF - 4 - j + 1);
    EXPECT_NE(nullptr,
              buildFrame("x", Json::Value(), "", big.data(), static_cast<int32_t>(big.size() - 1)));
    EXPECT_EQ(nullptr,
              buildFrame("x", Json::Value(), "", big.data(), static_cast<int32_t>(big.size())));
    EXPECT_EQ(nullptr, buildFrame("x", Json::Value(), "", big.data(), -1));
    EXPECT_EQ(nullptr, buildFrame("x", Json::Value(), "", nullptr, 5));
}

// Expected result "all of the bytes given".
constexpr int32_t kWhole = INT32_MAX;

struct CutCase {
    const char* name;
    std::string bytes;
    int32_t result;  // > 0: consumed, 0: need more, -1: malformed
    std::string cmd = "";
    std::string msg = "null";  // compact JSON of the "msg" handed on
    int32_t binaryLength = 0;
};

TEST(CutFrame, Table) {
    const std::string ok = "{\"cmd\":\"a\",\"msg\":{\"k\":1}}\n";
    const std::string full = FrameClient::encode(ok, "BIN");
    const std::vector<CutCase> cases = {
        {"nothing", "", 0},
        {"three bytes", std::string("\x50\x00\x00", 3), 0},
        {"empty frame", u32(0), 4},
        {"empty frame before another", u32(0) + full, 4},
        {"length field only", u32(80), 0},
        {"seven bytes", full.substr(0, 7), 0},
        {"header without body", full.substr(0, 8), 0},
        {"one byte short", full.substr(0, full.size() - 1), 0},
        {"whole frame", full, kWhole, "a", "{\"k\":1}", 3},
        {"N = 1", header(1, 0), -1},
        {"N = 3", header(3, 0), -1},
        {"N = 16777216", header(0x1000000, 10), -1},
        {"N = 0xFFFFFFFF", header(0xFFFFFFFF, 10), -1},
        {"negative J", header(100, 0x80000000), -1},
        {"J above N - 4", header(10, 7), -1},
        {"J = 0", header(4, 0), -1},
        {"JSON that does not parse", FrameClient::encode("{\"cmd\":"), -1},
        {"comment", FrameClient::encode("{\"cmd\":\"a\"} // c"), -1},
        {"trailing garbage", FrameClient::encode("{\"cmd\":\"a\"} x"), -1},
        {"bare number root", FrameClient::encode("42"), -1},
        {"bare text root", FrameClient::encode("\"register\""), -1},
        {"array root", FrameClient::encode("[\"register\"]"), -1},
        {"cmd is a number", FrameClient::encode("{\"cmd\":7}"), -1},
        {"cmd is an array", FrameClient::encode("{\"cmd\":[\"a\"]}"), -1},
        {"cmd is an object", FrameClient::encode("{\"cmd\":{}}"), -1},
        {"nesting too deep", FrameClient::encode("{\"msg\":" + std::string(5000, '[')), -1},
        {"cmd null", FrameClient::encode("{\"cmd\":null}"), kWhole},
        {"no cmd, no msg", FrameClient::encode("{}"), kWhole},
        {"extra keys ignored", FrameClient::encode("{\"cmd\":\"b\",\"x\":1,\"msg\":2}"), kWhole,
         "b", "2"},
        {"N = J + 4", FrameClient::encode("{\"cmd\":\"c\"}"), kWhole, "c"},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t expected =
            c.result == kWhole ? static_cast<int32_t>(c.bytes.size()) : c.result;
        ParsedFrame frame;
        ASSERT_EQ(expected, cutFrame(bytePtr(c.bytes), c.bytes.size(), frame));
        if (expected > 4) {
            EXPECT_FALSE(frame.empty);
            EXPECT_EQ(c.cmd, frame.cmd);
            Json::StreamWriterBuilder w;
            w["indentation"] = "";
            EXPECT_EQ(c.msg, Json::writeString(w, frame.msg));
            EXPECT_EQ(c.binaryLength, frame.length);
            EXPECT_EQ(bytePtr(c.bytes) + expected - c.binaryLength, frame.binary);
        } else if (expected == 4) {
            EXPECT_TRUE(frame.empty);
        }
    }
}

TEST(CutFrame, LargestLegalFrameIsAccepted) {
    const std::string json = "{\"cmd\":\"big\"}\n";
    std::string bytes = header(0xFFFFFF, static_cast<uint32_t>(json.size())) + json;
    bytes.resize(0xFFFFFF + 4, 'z');
    ParsedFrame frame;
    ASSERT_EQ(0xFFFFFF + 4, cutFrame(bytePtr(bytes), bytes.size(), frame));
    EXPECT_EQ("big", frame.cmd);
    EXPECT_EQ(static_cast<int32_t>(0xFFFFFF - 4 - json.size()), frame.length);
}

// Cuts a stream the way a connection does: bytes arrive in pieces and
// every complete frame is taken before more bytes are read.
TEST(CutFrame, StreamCutInAnyPiecesGivesTheSameFramesInOrder) {
    const std::string stream = bytesOf(buildFrame("one", Json::Value(1), "", nullptr, 0)) + u32(0) +
                               FrameClient::encode("{\"cmd\":\"two\"}", "tail") + u32(0) + u32(0) +
                               bytesOf(buildFrame("three", Json::Value(), kServerId, nullptr, 0));
    for (size_t piece : {size_t{1}, size_t{3}, size_t{7}, stream.size()}) {
        SCOPED_TRACE(piece);
        std::string buffered;
        std::vector<std::string> cmds;
        for (size_t at = 0; at < stream.size(); at += piece) {
            buffered += stream.substr(at, piece);
            ParsedFrame frame;
            int32_t used;
            while ((used = cutFrame(bytePtr(buffered), buffered.size(), frame)) > 0) {
                if (!frame.empty) {
                    cmds.push_back(frame.cmd);
                }
                buffered.erase(0, static_cast<size_t>(used));
            }
            ASSERT_EQ(0, used);
        }
        EXPECT_TRUE(buffered.empty());
        EXPECT_EQ((std::vector<std::string>{"one", "two", "three"}), cmds);
    }
}
