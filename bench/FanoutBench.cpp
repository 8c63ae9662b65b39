// Fan-out benchmark: one thread posts audio-sized frames at 86 per second
// (one AAC-LD stream) to N registered loopback peers, to all and to a
// target listing every id, and prints delivery, delay and the network
// thread's CPU time; then 10,000 idle peers for the cost of heartbeats and
// the memory of a connection. It prints figures and never fails.
// Two pacings: "even", one frame every 1/86 s; "8-burst", the way the audio
// path posts, 8 frames at once for every 4096-sample block (92.9 ms).
//   fanout_bench [seconds per case] [peers]
// Defaults: 10 s; every case. Given peers, only the fan-out cases of that size.

#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/FanoutPeers.h"
#include "server/transport/TcpServer.h"

namespace {

constexpr int kFramesPerSecond = 86;
constexpr int kBurst = 8;
constexpr int64_t kBlockNs = int64_t{4096} * 1000000000 / 44100;

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    return line;
}

std::string ask(int fd, const std::string& command) {
    const std::string text = command + "\n";
    if (write(fd, text.data(), text.size()) < 0) {
        return "";
    }
    return readLine(fd);
}

// The peers' process, forked before any thread of this one exists.
struct PeerProcess {
    pid_t pid = -1;
    int control = -1;

    PeerProcess() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
            std::perror("socketpair");
            std::exit(1);
        }
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            runPeers(fds[1]);
            _exit(0);
        }
        close(fds[1]);
        control = fds[0];
    }
    ~PeerProcess() {
        ask(control, "quit");
        close(control);
        waitpid(pid, nullptr, 0);
    }
};

// The server with its event loop on a thread whose CPU time can be read.
struct RunningServer {
    TcpServer server{0};
    std::thread loop;
    clockid_t cpuClock{};

    RunningServer() {
        loop = std::thread([this] { server.run(); });
        pthread_getcpuclockid(loop.native_handle(), &cpuClock);
    }
    ~RunningServer() {
        server.stop();
        loop.join();
    }
    int64_t cpuNs() const {
        timespec ts{};
        clock_gettime(cpuClock, &ts);
        return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
    }
    void waitRegistered(int n) {
        for (int i = n - 1; i >= 0; --i) {
            while (!server.isRegistered("dev-" + std::to_string(i))) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
};

int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

struct Result {
    uint64_t received = 0;
    uint64_t p50 = 0, p99 = 0, max = 0, heartbeats = 0;
};

Result parseResult(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    Result r;
    in >> word >> r.received >> r.p50 >> r.p99 >> r.max >> r.heartbeats;
    return r;
}

void sleepUntil(int64_t ns) {
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

void fanoutCase(TargetPolicy policy, int n, int burst, int seconds) {
    const char* policyName = policy == ToAll ? "to-all" : "to-target";
    const char* pacing = burst == 1 ? "even" : "8-burst";
    PeerProcess peers;
    RunningServer running;
    if (ask(peers.control, "connect " + std::to_string(running.server.localPort()) + " " +
                               std::to_string(n)) != "ready") {
        std::printf("%-9s %-7s %6d  peers could not connect\n", policyName, pacing, n);
        return;
    }
    running.waitRegistered(n);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ask(peers.control, "start");

    Target target{policy, "", {}};
    if (policy == ToTarget) {
        for (int i = 0; i < n; ++i) {
            target.dst.push_back("dev-" + std::to_string(i));
        }
    }
    const int64_t periodNs = burst == 1 ? 1000000000 / kFramesPerSecond : kBlockNs;
    const int64_t posts = int64_t{seconds} * 1000000000 / periodNs;
    const int64_t frames = posts * burst;
    Json::Value msg;
    msg["id"] = 1;
    const int64_t cpu0 = running.cpuNs();
    const int64_t t0 = monotonicNs();
    std::thread poster([&] {
        uint8_t packet[kPacketBytes] = {};
        int64_t seq = 0;
        for (int64_t k = 0; k < posts; ++k) {
            sleepUntil(t0 + (k + 1) * periodNs);
            for (int i = 0; i < burst; ++i, ++seq) {
                const int64_t now = monotonicNs();
                std::memcpy(packet, &seq, 8);
                std::memcpy(packet + 8, &now, 8);
                running.server.postToTarget(target, "audio-frame-data", msg, packet, kPacketBytes);
            }
        }
    });
    poster.join();
    const int64_t cpu1 = running.cpuNs();
    const int64_t t1 = monotonicNs();
    const Result r = parseResult(ask(peers.control, "collect " + std::to_string(frames)));

    const double wall = static_cast<double>(t1 - t0) / 1e9;
    const uint64_t expected = static_cast<uint64_t>(frames) * static_cast<uint64_t>(n);
    std::printf("%-9s %-7s %6d %10.0f %10.0f %6lld %7.2f %7.2f %7.2f %8.1f%%\n", policyName, pacing,
                n, static_cast<double>(r.received) / wall, static_cast<double>(expected) / wall,
                static_cast<long long>(expected) - static_cast<long long>(r.received),
                static_cast<double>(r.p50) / 1000, static_cast<double>(r.p99) / 1000,
                static_cast<double>(r.max) / 1000,
                100.0 * static_cast<double>(cpu1 - cpu0) / static_cast<double>(t1 - t0));
    std::fflush(stdout);
}

void idleCase(int n, int seconds) {
    PeerProcess peers;
    RunningServer running;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int64_t rss0 = residentBytes();
    if (ask(peers.control, "connect " + std::to_string(running.server.localPort()) + " " +
                               std::to_string(n)) != "ready") {
        std::printf("idle %d: peers could not connect\n", n);
        return;
    }
    running.waitRegistered(n);
    // Let a few heartbeats go out so that every connection has written.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const int64_t rss1 = residentBytes();
    ask(peers.control, "start");
    const int64_t cpu0 = running.cpuNs();
    const int64_t t0 = monotonicNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const int64_t cpu1 = running.cpuNs();
    const int64_t t1 = monotonicNs();
    const Result r = parseResult(ask(peers.control, "collect 0"));

    const double wall = static_cast<double>(t1 - t0) / 1e9;
    std::printf(
        "idle %d peers: %.1f heartbeats/s received, network thread %.2f ms CPU per second "
        "(%.2f us per heartbeat delivered), resident memory %.0f bytes per connection\n",
        n, static_cast<double>(r.heartbeats) / wall, static_cast<double>(cpu1 - cpu0) / 1e6 / wall,
        static_cast<double>(cpu1 - cpu0) / 1e3 /
            static_cast<double>(std::max<uint64_t>(r.heartbeats, 1)),
        static_cast<double>(rss1 - rss0) / n);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    // Each process holds one descriptor per connection; the peers inherit this.
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int only = argc > 2 ? std::atoi(argv[2]) : 0;
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);

    std::printf("%d s per case, %d frames/s with %d-byte binary tails, posted with postToTarget\n",
                seconds, kFramesPerSecond, kPacketBytes);
    std::printf("%-9s %-7s %6s %10s %10s %6s %7s %7s %7s %9s\n", "policy", "pacing", "peers",
                "recv/s", "expect/s", "lost", "p50 ms", "p99 ms", "max ms", "net CPU");
    for (int n : {100, 1000, 5000}) {
        for (int burst : {1, kBurst}) {
            for (TargetPolicy policy : {ToAll, ToTarget}) {
                if (only == 0 || only == n) {
                    fanoutCase(policy, n, burst, seconds);
                }
            }
        }
    }
    if (only == 0) {
        idleCase(10000, seconds);
    }
    return 0;
}
