// The clients' parts that need no server: the connection's frame reading
// against a raw loopback peer, the jitter buffer, the back-off, the schedule
// words and the password digest.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "clients/common/ClientConnection.h"
#include "clients/common/PasswordDigest.h"
#include "clients/ctl/ScheduleWords.h"
#include "clients/endpoint/Backoff.h"
#include "clients/endpoint/JitterBuffer.h"

namespace {

// A listening socket on loopback and the one connection accepted from it.
class RawPeer {
public:
    RawPeer() {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 1);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
    }
    ~RawPeer() {
        if (peer_ >= 0) {
            close(peer_);
        }
        close(listener_);
    }
    uint16_t port() const { return port_; }
    void accept() { peer_ = ::accept(listener_, nullptr, nullptr); }
    void write(const std::string& bytes) {
        ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    }
    void hangUp() {
        close(peer_);
        peer_ = -1;
    }
    std::string readAll(size_t n) {
        std::string out(n, '\0');
        size_t got = 0;
        while (got < n) {
            const ssize_t r = recv(peer_, out.data() + got, n - got, 0);
            if (r <= 0) {
                break;
            }
            got += static_cast<size_t>(r);
        }
        out.resize(got);
        return out;
    }

private:
    int listener_ = -1;
    int peer_ = -1;
    uint16_t port_ = 0;
};

std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) {
        s[i] = static_cast<char>(v >> (8 * i));
    }
    return s;
}

std::string frame(const std::string& json, const std::string& binary = "") {
    return le32(static_cast<uint32_t>(4 + json.size() + binary.size())) +
           le32(static_cast<uint32_t>(json.size())) + json + binary;
}

const std::string kHeartbeat =
    "{\"cmd\":\"heartbeat\",\"msg\":null,\"src\":\"00000000-0000-0000-0000-000000000000\"}\n";

struct Connected {
    RawPeer peer;
    ClientConnection conn;
    Connected() {
        std::string error;
        EXPECT_TRUE(conn.open("127.0.0.1", peer.port(), 2000, error)) << error;
        peer.accept();
    }
};

}  // namespace

TEST(ClientConnection, ReadsFramesCutAnywhereAndSkipsEmptyOnes) {
    Connected c;
    const std::string bytes =
        frame(kHeartbeat) + le32(0) +
        frame("{\"cmd\":\"audio-frame-data\",\"msg\":{\"id\":\"s1\"},\"src\":\"\"}",
              std::string("\x01\x02\x00\x03", 4));
    // One byte at a time is the worst split the stream can have.
    for (char b : bytes) {
        c.peer.write(std::string(1, b));
    }
    ClientMessage m;
    ASSERT_EQ(c.conn.read(2000, m), ClientConnection::ReadStatus::Message);
    EXPECT_EQ(m.cmd, "heartbeat");
    EXPECT_EQ(m.src, "00000000-0000-0000-0000-000000000000");
    EXPECT_TRUE(m.msg.isNull());
    EXPECT_TRUE(m.binary.empty());
    ASSERT_EQ(c.conn.read(2000, m), ClientConnection::ReadStatus::Message);
    EXPECT_EQ(m.cmd, "audio-frame-data");
    EXPECT_EQ(m.msg["id"].asString(), "s1");
    EXPECT_EQ(m.binary, (std::vector<uint8_t>{1, 2, 0, 3}));
    EXPECT_GT(m.arrivalUs, 0);
    EXPECT_EQ(c.conn.read(50, m), ClientConnection::ReadStatus::Timeout);
}

TEST(ClientConnection, ReportsMalformedStreamAndClose) {
    {
        Connected c;
        c.peer.write(le32(3) + le32(0));  // a declared length below the minimum
        ClientMessage m;
        EXPECT_EQ(c.conn.read(2000, m), ClientConnection::ReadStatus::Malformed);
        EXPECT_FALSE(c.conn.isOpen());
    }
    {
        Connected c;
        c.peer.write(frame(kHeartbeat));
        c.peer.hangUp();
        ClientMessage m;
        EXPECT_EQ(c.conn.read(2000, m), ClientConnection::ReadStatus::Message);
        EXPECT_EQ(c.conn.read(2000, m), ClientConnection::ReadStatus::Closed);
    }
}

TEST(ClientConnection, SendsOneWholeFrameWithBinaryTail) {
    Connected c;
    Json::Value msg;
    msg["devId"] = "room-1";
    const uint8_t tail[] = {9, 8, 7};
    ASSERT_TRUE(c.conn.send("register", msg, tail, 3));
    const std::string json = "{\"cmd\":\"register\",\"msg\":{\"devId\":\"room-1\"},\"src\":\"\"}\n";
    EXPECT_EQ(c.peer.readAll(8 + json.size() + 3), frame(json, "\x09\x08\x07"));
}

TEST(ClientConnection, CountsTimeSinceTheLastFrame) {
    Connected c;
    const int64_t atConnect = c.conn.lastFrameMs();
    ClientMessage m;
    EXPECT_EQ(c.conn.read(120, m), ClientConnection::ReadStatus::Timeout);
    EXPECT_EQ(c.conn.lastFrameMs(), atConnect);
    c.peer.write(frame(kHeartbeat));
    ASSERT_EQ(c.conn.read(2000, m), ClientConnection::ReadStatus::Message);
    EXPECT_GE(c.conn.lastFrameMs(), atConnect + 100);
}

TEST(JitterBuffer, WaitsForThePrebufferThenPlaysAndRebuffersAfterAnUnderrun) {
    JitterBuffer buffer(1000, 5000);
    std::vector<int16_t> in(2 * 600);
    for (size_t i = 0; i < in.size(); ++i) {
        in[i] = static_cast<int16_t>(i);
    }
    std::vector<int16_t> out(2 * 500);
    buffer.push(in.data(), 600);
    EXPECT_EQ(buffer.pull(out.data(), 500), JitterBuffer::Pull::Waiting);
    buffer.push(in.data(), 600);
    ASSERT_EQ(buffer.pull(out.data(), 500), JitterBuffer::Pull::Played);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[999], 999);
    EXPECT_EQ(buffer.pull(out.data(), 500), JitterBuffer::Pull::Played);
    EXPECT_EQ(out[0], 1000);  // in order across the two pushes
    EXPECT_EQ(out[200], 0);
    EXPECT_EQ(buffer.bufferedFrames(), 200u);
    EXPECT_EQ(buffer.pull(out.data(), 500), JitterBuffer::Pull::Underrun);
    EXPECT_EQ(buffer.underruns(), 1u);
    // After an underrun, playing waits for a full prebuffer again.
    buffer.push(in.data(), 600);
    EXPECT_EQ(buffer.pull(out.data(), 500), JitterBuffer::Pull::Waiting);
    buffer.push(in.data(), 600);
    EXPECT_EQ(buffer.pull(out.data(), 500), JitterBuffer::Pull::Played);
    EXPECT_EQ(buffer.underruns(), 1u);
}

TEST(JitterBuffer, DropsTheOldestBeyondCapacityAndResetsToBuffering) {
    JitterBuffer buffer(100, 1000);
    std::vector<int16_t> in(2 * 800, 7);
    EXPECT_EQ(buffer.push(in.data(), 800), 0u);
    EXPECT_EQ(buffer.push(in.data(), 800), 600u);
    EXPECT_EQ(buffer.bufferedFrames(), 1000u);
    buffer.reset();
    EXPECT_EQ(buffer.bufferedFrames(), 0u);
    std::vector<int16_t> out(2 * 50);
    EXPECT_EQ(buffer.pull(out.data(), 50), JitterBuffer::Pull::Waiting);
    EXPECT_EQ(buffer.underruns(), 0u);
}

TEST(Backoff, DoublesUpToTheCeilingAndStartsOverAfterReset) {
    Backoff backoff(100, 800);
    const int64_t bases[] = {100, 200, 400, 800, 800};
    for (int64_t base : bases) {
        const int64_t d = backoff.next();
        EXPECT_GE(d, base);
        EXPECT_LE(d, base + base / 4);
    }
    EXPECT_LE(backoff.next(), backoff.ceilingMs());
    backoff.reset();
    EXPECT_LE(backoff.next(), 125);
}

TEST(ScheduleWords, DaysBecomeTheDayMask) {
    const int friday = dayBitOf(5);
    EXPECT_EQ(friday, 32);
    EXPECT_EQ(dayBitOf(0), 128);  // Sunday is 7, not 0
    struct Case {
        const char* words;
        bool weekly;
        int mask;
    };
    const Case cases[] = {{"mon", false, 2},       {"mon,wed,sun", false, 2 | 8 | 128},
                          {"today", false, 32},    {"today", true, 33},
                          {"weekdays", false, 62}, {"weekend", true, 193},
                          {"daily", false, 254},   {"monday,friday", false, 34}};
    for (const Case& c : cases) {
        int mask = 0;
        std::string error;
        EXPECT_TRUE(parseDays(c.words, c.weekly, friday, mask, error)) << c.words << ": " << error;
        EXPECT_EQ(mask, c.mask) << c.words;
    }
    int mask = 0;
    std::string error;
    EXPECT_FALSE(parseDays("funday", false, friday, mask, error));
    EXPECT_NE(error.find("funday"), std::string::npos);
    EXPECT_FALSE(parseDays("", true, friday, mask, error));
    EXPECT_EQ(describeDays(33), "weekly fri");
    EXPECT_EQ(describeDays(2 | 8), "once mon,wed");
}

TEST(ScheduleWords, TargetWordsBecomeTargetTextAndBack) {
    struct Case {
        const char* words;
        const char* text;
    };
    const Case cases[] = {
        {"all", "{\"policy\":\"to-all\"}"},
        {"group:g1", "{\"dst\":[\"g1\"],\"policy\":\"to-group\"}"},
        {"endpoint:a,b", "{\"dst\":[\"a\",\"b\"],\"policy\":\"to-target\"}"},
    };
    for (const Case& c : cases) {
        std::string text;
        std::string error;
        ASSERT_TRUE(parseTargetWords(c.words, text, error)) << error;
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(describeTarget(text), c.words);
    }
    std::string text;
    std::string error;
    for (const char* bad : {"everyone", "group:", "room:1", "endpoint"}) {
        EXPECT_FALSE(parseTargetWords(bad, text, error)) << bad;
    }
    EXPECT_EQ(describeTarget("not json"), "not json");
}

TEST(ScheduleWords, StartTimesTakeTheServersForm) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case good[] = {
        {"now", "now"}, {"8:00", "8:0:0"}, {"08:05:03", "8:5:3"}, {"23:59:59", "23:59:59"}};
    for (const Case& c : good) {
        std::string out;
        std::string error;
        EXPECT_TRUE(parseStartTime(c.in, out, error)) << c.in;
        EXPECT_EQ(out, c.out);
    }
    for (const char* bad : {"24:00", "8", "8:60", "8::0", "later", "-1:0"}) {
        std::string out;
        std::string error;
        EXPECT_FALSE(parseStartTime(bad, out, error)) << bad;
    }
}

TEST(PasswordDigest, IsTheLowercaseMd5OfTheTypedText) {
    EXPECT_EQ(passwordDigest("907580"), "0f3d58864d5e607b8809696a25dd9bf1");
}
