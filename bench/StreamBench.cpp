// Streaming run: S audio schedules at once, each to its own to-target group
// of loopback endpoints, measured at the endpoints. Prints per-S figures:
// packets per second against 44100/512, the largest lateness of a block
// against its deadline, p99 inter-arrival jitter of blocks, packets lost and
// the server's CPU time per stream-second. Never fails a build.
//
//   stream_bench [seconds per run = 60] [endpoints per schedule = 2] [S ...]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/post.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/core/SonavelServer.h"
#include "tests/support/FrameClient.h"
#include "tests/support/TempDir.h"

namespace {

constexpr double kBlockSeconds = 4096.0 / 44100.0;
constexpr int kPacketsPerBlock = 8;

double nowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double cpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// One endpoint connection, read without blocking from one epoll loop.
struct Endpoint {
    int fd = -1;
    std::string id;
    std::string pending;
    bool doSchedule = false;
    bool audioBeforeDoSchedule = false;
    std::vector<double> blockArrivals;  // arrival of the first packet of each block
    long packets = 0;
};

// The server, with the moment each block's first packet is posted noted per
// schedule: the lateness of the pacing itself, before the delivery tick.
class BenchServer : public SonavelServer {
public:
    using SonavelServer::SonavelServer;

    void queueForTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                        const uint8_t* binary, size_t length) override {
        if (cmd == "audio-frame-data") {
            double at = nowSeconds();
            std::lock_guard<std::mutex> lock(mutex_);
            Posts& p = posts_[msg["id"].asString()];
            if (p.packets % kPacketsPerBlock == 0) {
                p.blockPosts.push_back(at);
            }
            ++p.packets;
        }
        SonavelServer::queueForTarget(target, cmd, msg, binary, length);
    }

    std::map<std::string, std::vector<double>> blockPosts() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::map<std::string, std::vector<double>> out;
        for (const auto& entry : posts_) {
            out[entry.first] = entry.second.blockPosts;
        }
        return out;
    }

private:
    struct Posts {
        long packets = 0;
        std::vector<double> blockPosts;
    };
    std::mutex mutex_;
    std::map<std::string, Posts> posts_;
};

int connectTo(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool sendFrame(int fd, const std::string& cmd, const Json::Value& msg) {
    Json::Value root;
    root["cmd"] = cmd;
    root["msg"] = msg;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::string bytes = FrameClient::encode(Json::writeString(builder, root) + "\n");
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

uint32_t readU32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Cuts whole frames from the endpoint's bytes; only the command matters here.
void consume(Endpoint& ep, double at) {
    size_t pos = 0;
    while (ep.pending.size() - pos >= 8) {
        uint32_t n = readU32(ep.pending.data() + pos);
        if (ep.pending.size() - pos - 4 < n) {
            break;
        }
        int32_t j = static_cast<int32_t>(readU32(ep.pending.data() + pos + 4));
        std::string json = ep.pending.substr(pos + 8, static_cast<size_t>(j));
        pos += 4 + n;
        if (json.find("\"audio-frame-data\"") != std::string::npos) {
            if (!ep.doSchedule) {
                ep.audioBeforeDoSchedule = true;
            }
            if (ep.packets % kPacketsPerBlock == 0) {
                ep.blockArrivals.push_back(at);
            }
            ++ep.packets;
        } else if (json.find("\"do-schedule\"") != std::string::npos) {
            ep.doSchedule = true;
        }
    }
    ep.pending.erase(0, pos);
}

struct Figures {
    double packetsPerSecond = 0;
    double maxLatenessMs = 0;
    double p99JitterMs = 0;
    long lost = 0;
};

// Figures of one series of block times (arrivals or posts) inside [from, to).
Figures figuresOf(const std::vector<double>& times, double from, double to) {
    Figures f;
    std::vector<double> arrivals;
    for (double t : times) {
        if (t >= from && t < to) {
            arrivals.push_back(t);
        }
    }
    if (arrivals.size() < 3) {
        return f;
    }
    f.packetsPerSecond = static_cast<double>(arrivals.size() * kPacketsPerBlock) / (to - from);
    // Deadlines on the block grid, anchored so that no block is early: the
    // lateness of a block is how far it trails the earliest-running one.
    double best = arrivals[0];
    for (size_t k = 0; k < arrivals.size(); ++k) {
        best = std::min(best, arrivals[k] - static_cast<double>(k) * kBlockSeconds);
    }
    std::vector<double> jitter;
    for (size_t k = 0; k < arrivals.size(); ++k) {
        double late = arrivals[k] - (best + static_cast<double>(k) * kBlockSeconds);
        f.maxLatenessMs = std::max(f.maxLatenessMs, late * 1000.0);
        if (k > 0) {
            jitter.push_back(std::fabs(arrivals[k] - arrivals[k - 1] - kBlockSeconds) * 1000.0);
        }
    }
    std::sort(jitter.begin(), jitter.end());
    f.p99JitterMs = jitter[std::min(jitter.size() - 1, jitter.size() * 99 / 100)];
    double span = arrivals.back() - arrivals.front();
    long expectedBlocks = std::lround(span / kBlockSeconds) + 1;
    f.lost = (expectedBlocks - static_cast<long>(arrivals.size())) * kPacketsPerBlock;
    return f;
}

void runOnce(const std::string& tone, int streams, int endpointsPer, int seconds) {
    ScopedConfigHome config;
    TempDir doc;
    std::filesystem::create_directories(doc.file("Files"));
    std::filesystem::copy_file(tone, doc.file("Files/tone.wav"));

    auto server = std::make_unique<BenchServer>(0, doc.path());
    uint16_t port = server->localPort();
    std::thread serverThread([&] { server->run(); });

    int epfd = epoll_create1(0);
    std::vector<Endpoint> endpoints(static_cast<size_t>(streams * endpointsPer));
    std::map<int, size_t> byFd;
    for (size_t i = 0; i < endpoints.size(); ++i) {
        Endpoint& ep = endpoints[i];
        ep.id = "bench-ep-" + std::to_string(i);
        ep.fd = connectTo(port);
        Json::Value reg;
        reg["devId"] = ep.id;
        sendFrame(ep.fd, "register", reg);
        fcntl(ep.fd, F_SETFL, fcntl(ep.fd, F_GETFL) | O_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.fd = ep.fd;
        epoll_ctl(epfd, EPOLL_CTL_ADD, ep.fd, &ev);
        byFd[ep.fd] = i;
    }

    FrameClient manager(port);
    manager.sendRegister("bench-manager");
    Json::Value login;
    login["userName"] = "admin";
    login["password"] = "0f3d58864d5e607b8809696a25dd9bf1";
    manager.sendFrame("manager-login", login);
    manager.readMessage(2000);
    for (int s = 0; s < streams; ++s) {
        Json::Value dest;
        dest["policy"] = "to-target";
        for (int e = 0; e < endpointsPer; ++e) {
            dest["dst"].append(endpoints[static_cast<size_t>(s * endpointsPer + e)].id);
        }
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "";
        Json::Value add;
        add["id"] = "bench-" + std::to_string(s);
        add["type"] = "audio";
        add["startTime"] = "now";
        add["duration"] = static_cast<Json::Int64>(seconds + 30);
        add["repeat"] = 255;
        add["dest"] = Json::writeString(builder, dest);
        add["content"]["file"] = "tone.wav";
        manager.sendFrame("add-schedule", add);
    }

    // Every stream starts within one runner pass; measure after the start.
    const double settle = 3.5;
    double begin = nowSeconds();
    double cpuBegin = 0;
    double clientCpuBegin = 0;
    double measureFrom = begin + settle;
    double measureTo = measureFrom + seconds;
    bool started = false;
    std::vector<epoll_event> events(256);
    char buf[65536];
    while (true) {
        double t = nowSeconds();
        if (!started && t >= measureFrom) {
            started = true;
            cpuBegin = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
            clientCpuBegin = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        }
        if (t >= measureTo) {
            break;
        }
        int n = epoll_wait(epfd, events.data(), static_cast<int>(events.size()), 5);
        double at = nowSeconds();
        for (int i = 0; i < n; ++i) {
            Endpoint& ep = endpoints[byFd[events[i].data.fd]];
            ssize_t got;
            while ((got = ::recv(ep.fd, buf, sizeof buf, 0)) > 0) {
                ep.pending.append(buf, static_cast<size_t>(got));
            }
            consume(ep, at);
        }
    }
    double serverCpu = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBegin) -
                       (cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - clientCpuBegin);

    double maxPostLate = 0;
    for (const auto& entry : server->blockPosts()) {
        maxPostLate =
            std::max(maxPostLate, figuresOf(entry.second, measureFrom, measureTo).maxLatenessMs);
    }
    boost::asio::post(server->ioContext(), [&] { server->stop(); });
    serverThread.join();
    server.reset();
    for (auto& ep : endpoints) {
        close(ep.fd);
    }
    close(epfd);

    double minRate = 1e9;
    double maxRate = 0;
    double maxLate = 0;
    double maxJitter = 0;
    long lost = 0;
    int unordered = 0;
    int silent = 0;
    for (const auto& ep : endpoints) {
        Figures f = figuresOf(ep.blockArrivals, measureFrom, measureTo);
        unordered += ep.audioBeforeDoSchedule ? 1 : 0;
        if (f.packetsPerSecond == 0) {
            ++silent;
            continue;
        }
        minRate = std::min(minRate, f.packetsPerSecond);
        maxRate = std::max(maxRate, f.packetsPerSecond);
        maxLate = std::max(maxLate, f.maxLatenessMs);
        maxJitter = std::max(maxJitter, f.p99JitterMs);
        lost += std::max(0L, f.lost);
    }
    std::printf(
        "S=%-3d endpoints=%-3zu packets/s %.2f..%.2f (goal %.2f)  max block lateness: posted "
        "%.2f ms, at endpoints %.2f ms  p99 jitter %.2f ms  lost %ld  silent %d  "
        "audio-before-do-schedule %d  server CPU %.2f ms per stream-second\n",
        streams, endpoints.size(), silent == static_cast<int>(endpoints.size()) ? 0 : minRate,
        maxRate, 44100.0 / 512.0, maxPostLate, maxLate, maxJitter, lost, silent, unordered,
        serverCpu * 1000.0 / (streams * static_cast<double>(seconds)));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    int endpointsPer = argc > 2 ? std::atoi(argv[2]) : 2;
    std::vector<int> counts;
    for (int i = 3; i < argc; ++i) {
        counts.push_back(std::atoi(argv[i]));
    }
    if (counts.empty()) {
        counts = {1, 8, 32};
    }
    if (seconds <= 0 || endpointsPer <= 0) {
        std::fprintf(stderr, "usage: %s [seconds] [endpoints per schedule] [S ...]\n", argv[0]);
        return 2;
    }

    // One file longer than a run, so that every stream keeps one block grid.
    TempDir media;
    std::string tone = media.file("tone.wav");
    std::string cmd =
        "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
        std::to_string(seconds + 20) + " -ac 2 '" + tone + "'";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "ffmpeg could not make the test tone\n");
        return 1;
    }
    std::printf("streaming: %d s per run, %d endpoints per schedule, block %.2f ms\n", seconds,
                endpointsPer, kBlockSeconds * 1000.0);
    for (int s : counts) {
        runOnce(tone, s, endpointsPer, seconds);
    }
    return 0;
}
