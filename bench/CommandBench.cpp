// Command throughput of the application server: 50 managers issue log-ins,
// query-endpoints over 1,000 endpoint rows and group edits, while a probe
// timer on the network thread records the longest gap between its ticks.
// A second phase uploads a 200 MB file and measures the gaps while its
// whole-file check runs. Prints figures; never fails a build.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/Md5.h"
#include "common/Settings.h"
#include "server/core/SonavelServer.h"
#include "tests/support/FrameClient.h"
#include "tests/support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kManagers = 50;
constexpr int kRounds = 6;
constexpr int kEndpointRows = 1000;
constexpr size_t kBigFile = size_t{200} << 20;
const char* const kAdminDigest = "0f3d58864d5e607b8809696a25dd9bf1";

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Fires every 10 ms against absolute deadlines on the network thread and
// keeps the longest gap between two firings.
class TickProbe {
public:
    explicit TickProbe(boost::asio::io_context& io) : timer_(io) {}
    void start() {
        last_ = Clock::now();
        next_ = last_ + std::chrono::milliseconds(10);
        arm();
    }
    void stop() { stopped_ = true; }
    double takeMaxGapMs() { return maxGapUs_.exchange(0) / 1000.0; }

private:
    void arm() {
        timer_.expires_at(next_);
        timer_.async_wait([this](const boost::system::error_code& ec) {
            if (ec || stopped_) {
                return;
            }
            auto now = Clock::now();
            int64_t gap =
                std::chrono::duration_cast<std::chrono::microseconds>(now - last_).count();
            int64_t seen = maxGapUs_.load();
            while (gap > seen && !maxGapUs_.compare_exchange_weak(seen, gap)) {
            }
            last_ = now;
            next_ += std::chrono::milliseconds(10);
            arm();
        });
    }

    boost::asio::steady_timer timer_;
    Clock::time_point last_;
    Clock::time_point next_;
    std::atomic<int64_t> maxGapUs_{0};
    std::atomic<bool> stopped_{false};
};

// A lean client: reads frames and looks only at their command name, so that
// the clients do not take the CPU the server is measured on.
class BenchClient {
public:
    explicit BenchClient(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~BenchClient() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }

    void send(const std::string& cmd, const Json::Value& msg, const std::string& binary = "") {
        Json::Value root;
        root["cmd"] = cmd;
        root["msg"] = msg;
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        std::string bytes = FrameClient::encode(Json::writeString(b, root) + "\n", binary);
        for (size_t done = 0; fd_ >= 0 && done < bytes.size();) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            done += static_cast<size_t>(n);
        }
    }

    // Reads until a frame with this command arrives; returns its JSON text.
    bool waitFor(const std::string& cmd, std::string* json = nullptr) {
        const std::string needle = "\"cmd\":\"" + cmd + "\"";
        for (;;) {
            while (buf_.size() >= 8) {
                uint32_t total = u32(0);
                uint32_t jsonLen = u32(4);
                if (buf_.size() < total + 4ull) {
                    break;
                }
                bool hit = buf_.compare(8, needle.size() + 1, "{" + needle) == 0;
                if (hit && json) {
                    *json = buf_.substr(8, jsonLen);
                }
                buf_.erase(0, total + 4);
                if (hit) {
                    return true;
                }
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0) {
                return false;
            }
            char chunk[1 << 16];
            ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                return false;
            }
            buf_.append(chunk, static_cast<size_t>(n));
        }
    }

private:
    uint32_t u32(size_t at) const {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) {
            v = v << 8 | static_cast<uint8_t>(buf_[at + static_cast<size_t>(i)]);
        }
        return v;
    }

    int fd_ = -1;
    std::string buf_;
};

Json::Value loginMsg() {
    Json::Value m;
    m["userName"] = "admin";
    m["password"] = kAdminDigest;
    return m;
}

// One manager: each round logs in, queries the endpoints and edits its group;
// every step ends with a log-in whose reply proves the step was handled.
void runManager(uint16_t port, int index, std::vector<double>& replyMs, int& commands) {
    BenchClient c(port);
    Json::Value reg;
    reg["devId"] = "mgr" + std::to_string(index);
    c.send("register", reg);
    const std::string groupId = "g" + std::to_string(index);
    Json::Value members;
    members["groupId"] = groupId;
    for (int i = 0; i < 10; ++i) {
        members["endpoints"].append("dev" + std::to_string((index * 10 + i) % kEndpointRows));
    }
    Json::Value addGroup;
    addGroup["groupId"] = groupId;
    addGroup["groupName"] = "Group " + std::to_string(index);
    c.send("add-group", addGroup);
    commands += 2;
    for (int round = 0; round < kRounds; ++round) {
        auto t = Clock::now();
        c.send("manager-login", loginMsg());
        c.waitFor("response-manager-login");
        replyMs.push_back(msSince(t));

        t = Clock::now();
        c.send("query-endpoints", Json::Value());
        c.send("manager-login", loginMsg());
        c.waitFor("response-manager-login");
        replyMs.push_back(msSince(t));

        t = Clock::now();
        c.send("add-member-to-group", members);
        c.send("del-member-from-group", members);
        c.send("manager-login", loginMsg());
        c.waitFor("response-manager-login");
        replyMs.push_back(msSince(t));
        commands += 7;
    }
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main() {
    ScopedConfigHome config;
    TempDir doc;
    std::filesystem::create_directories(doc.file("Files"));
    setCurrentUserRegString("TervikSoft\\Sonavel", "DocDir", doc.path());

    auto server = std::make_unique<SonavelServer>(0, doc.path());
    for (int i = 0; i < kEndpointRows; ++i) {
        server->execSql("insert into endpoints(devId, devName) values(?, ?)",
                        {"dev" + std::to_string(i), "Endpoint " + std::to_string(i)});
    }
    auto probe = std::make_unique<TickProbe>(server->ioContext());
    boost::asio::post(server->ioContext(), [&] { probe->start(); });
    std::thread loop([&] { server->run(); });
    const uint16_t port = server->localPort();

    // Phase 1: command throughput.
    std::vector<std::vector<double>> samples(kManagers);
    std::vector<int> counts(kManagers, 0);
    probe->takeMaxGapMs();
    auto t0 = Clock::now();
    {
        std::vector<std::thread> managers;
        for (int i = 0; i < kManagers; ++i) {
            managers.emplace_back(
                [&, i] { runManager(port, i, samples[static_cast<size_t>(i)], counts[i]); });
        }
        for (auto& t : managers) {
            t.join();
        }
    }
    double seconds = msSince(t0) / 1000.0;
    double commandGap = probe->takeMaxGapMs();
    std::vector<double> all;
    int total = 0;
    for (int i = 0; i < kManagers; ++i) {
        all.insert(all.end(), samples[static_cast<size_t>(i)].begin(),
                   samples[static_cast<size_t>(i)].end());
        total += counts[static_cast<size_t>(i)];
    }
    std::printf("managers: %d, endpoint rows: %d, commands: %d in %.2f s\n", kManagers,
                kEndpointRows, total, seconds);
    std::printf("commands per second: %.0f\n", total / seconds);
    std::printf("reply time p50: %.2f ms, p99: %.2f ms, max: %.2f ms\n", percentile(all, 0.5),
                percentile(all, 0.99), percentile(all, 1.0));
    std::printf("longest tick gap under command load: %.2f ms\n", commandGap);

    // Phase 2: a 200 MB upload, with the gaps measured while its check runs.
    std::string bytes(kBigFile, '\0');
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<char>(x >> 24);
    }
    BenchClient up(port);
    Json::Value reg;
    reg["devId"] = "uploader";
    up.send("register", reg);
    Json::Value start;
    start["fileName"] = "big.bin";
    start["md5"] = getMd5(bytes.data(), bytes.size());
    up.send("upload-file-start", start);
    up.waitFor("upload-file-response");
    const size_t chunk = size_t{8} << 20;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        up.send("upload-file-data", Json::Value(), bytes.substr(at, chunk));
        up.waitFor("upload-file-response");
    }
    // The same stretch of time with nothing to do shows what the machine
    // itself costs the network thread.
    probe->takeMaxGapMs();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    double idleGap = probe->takeMaxGapMs();
    auto checkStart = Clock::now();
    up.send("upload-file-end", Json::Value());
    std::string reply;
    up.waitFor("upload-file-response", &reply);
    double checkMs = msSince(checkStart);
    double checkGap = probe->takeMaxGapMs();
    bool passed = reply.find("\"code\":0") != std::string::npos;
    std::printf("200 MB whole-file check: %.0f ms, %s\n", checkMs, passed ? "passed" : "FAILED");
    std::printf("longest tick gap during the check: %.2f ms (goal: at most 20 ms)\n", checkGap);
    std::printf("longest tick gap while idle for 1 s, for comparison: %.2f ms\n", idleGap);

    boost::asio::post(server->ioContext(), [&] {
        probe->stop();
        server->stop();
    });
    loop.join();
    probe.reset();
    server.reset();
    return 0;
}
