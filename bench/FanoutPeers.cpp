#include "bench/FanoutPeers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "server/transport/Frame.h"

int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

namespace {

uint32_t getU32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

bool startsWith(const char* text, size_t size, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return size >= n && std::memcmp(text, prefix, n) == 0;
}

class PeerSet {
public:
    ~PeerSet() {
        running = false;
        if (reader.joinable()) {
            reader.join();
        }
        for (const Peer& p : peers) {
            close(p.fd);
        }
        if (epoll >= 0) {
            close(epoll);
        }
    }

    bool connectAll(uint16_t port, int n) {
        epoll = epoll_create1(0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        peers.resize(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            Peer& p = peers[static_cast<size_t>(i)];
            p.fd = socket(AF_INET, SOCK_STREAM, 0);
            if (p.fd < 0 || connect(p.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
                std::fprintf(stderr, "peer %d: %s\n", i, std::strerror(errno));
                return false;
            }
            Json::Value msg;
            msg["devId"] = "dev-" + std::to_string(i);
            FramePtr frame = buildFrame("register", msg, "", nullptr, 0);
            if (send(p.fd, frame->getBuffer(), frame->getLen(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(frame->getLen())) {
                return false;
            }
            fcntl(p.fd, F_SETFL, O_NONBLOCK);
            epoll_event ev{};
            ev.events = EPOLLIN;
            ev.data.u32 = static_cast<uint32_t>(i);
            epoll_ctl(epoll, EPOLL_CTL_ADD, p.fd, &ev);
        }
        running = true;
        reader = std::thread([this] { readLoop(); });
        return true;
    }

    void reset() {
        std::lock_guard lock(mutex);
        received = 0;
        heartbeats = 0;
        delaysUs.clear();
    }

    std::string collect(uint64_t framesPerPeer) {
        const uint64_t want = framesPerPeer * peers.size();
        const int64_t deadline = monotonicNs() + int64_t{5000000000};
        while (received.load() < want && monotonicNs() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard lock(mutex);
        uint32_t p50 = 0, p99 = 0, max = 0;
        if (!delaysUs.empty()) {
            auto at = [&](double q) {
                auto it = delaysUs.begin() + static_cast<std::ptrdiff_t>(q * (delaysUs.size() - 1));
                std::nth_element(delaysUs.begin(), it, delaysUs.end());
                return *it;
            };
            p50 = at(0.50);
            p99 = at(0.99);
            max = *std::max_element(delaysUs.begin(), delaysUs.end());
        }
        std::ostringstream out;
        out << "result " << received.load() << ' ' << p50 << ' ' << p99 << ' ' << max << ' '
            << heartbeats << '\n';
        return out.str();
    }

private:
    struct Peer {
        int fd = -1;
        std::string pending;
    };

    void readLoop() {
        std::vector<epoll_event> events(1024);
        char chunk[65536];
        while (running) {
            const int ready =
                epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 100);
            std::lock_guard lock(mutex);
            for (int e = 0; e < ready; ++e) {
                Peer& p = peers[events[static_cast<size_t>(e)].data.u32];
                ssize_t n;
                while ((n = recv(p.fd, chunk, sizeof chunk, 0)) > 0) {
                    p.pending.append(chunk, static_cast<size_t>(n));
                }
                cut(p);
            }
        }
    }

    // Takes every whole frame off the peer's buffer; called under the mutex.
    void cut(Peer& p) {
        size_t at = 0;
        const int64_t now = monotonicNs();
        while (p.pending.size() - at >= 8) {
            const uint32_t n = getU32(p.pending.data() + at);
            if (p.pending.size() - at < size_t{n} + 4) {
                break;
            }
            const uint32_t j = getU32(p.pending.data() + at + 4);
            const char* json = p.pending.data() + at + 8;
            if (startsWith(json, j, "{\"cmd\":\"audio-frame-data\"") &&
                n - 4 - j >= static_cast<uint32_t>(kPacketBytes)) {
                int64_t posted;
                std::memcpy(&posted, json + j + 8, sizeof posted);
                delaysUs.push_back(static_cast<uint32_t>((now - posted) / 1000));
                ++received;
            } else if (startsWith(json, j, "{\"cmd\":\"heartbeat\"")) {
                ++heartbeats;
            }
            at += size_t{n} + 4;
        }
        p.pending.erase(0, at);
    }

    int epoll = -1;
    std::vector<Peer> peers;
    std::thread reader;
    std::atomic<bool> running{false};
    std::mutex mutex;
    std::atomic<uint64_t> received{0};
    uint64_t heartbeats = 0;
    std::vector<uint32_t> delaysUs;
};

std::string readLine(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') {
        line.push_back(c);
    }
    return line;
}

void writeLine(int fd, const std::string& line) {
    const std::string text = line.back() == '\n' ? line : line + "\n";
    if (write(fd, text.data(), text.size()) < 0) {
        std::perror("control");
    }
}

}  // namespace

void runPeers(int control) {
    PeerSet peers;
    for (;;) {
        std::istringstream command(readLine(control));
        std::string verb;
        command >> verb;
        if (verb == "connect") {
            unsigned port = 0;
            int n = 0;
            command >> port >> n;
            writeLine(control,
                      peers.connectAll(static_cast<uint16_t>(port), n) ? "ready" : "failed");
        } else if (verb == "start") {
            peers.reset();
            writeLine(control, "started");
        } else if (verb == "collect") {
            uint64_t frames = 0;
            command >> frames;
            writeLine(control, peers.collect(frames));
        } else {
            return;
        }
    }
}
