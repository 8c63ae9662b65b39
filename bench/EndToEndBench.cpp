// End to end under load: the real server streams one audio schedule to many
// endpoints, simulated by this one process on one thread, and the figures
// are what those endpoints would live through:
//   - underruns of a 200 ms play-out buffer at each endpoint (goal: none);
//   - delay from the server's encode of a block to the decode of its access
//     units at the first endpoint, p50 and p99;
//   - spread between endpoints of the arrival time of the same access unit,
//     p50, p99 and max (goal: p99 at most 5 ms on loopback).
// The encode times are not on the wire. The server encodes block k at
// t0 + k * 4096 / 44100 s (it paces against absolute deadlines), so t0 is
// fitted as the earliest arrival less its block's offset; the delays are
// therefore above the fastest access unit, whose own delay (one block's
// encode and the loopback hop) is left out. Arrival times are the kernel's
// receive stamps, so this one reader thread's own delays do not count.
//
// usage: end_to_end_bench [--endpoints N] [--seconds S]   (defaults 200, 60)

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clients/common/ClientConnection.h"
#include "clients/endpoint/AacDecoder.h"
#include "tests/clients/ServerProcess.h"

namespace {

constexpr int kRate = 44100;
constexpr int kUnitFrames = 512;
constexpr int kUnitsPerBlock = 8;
constexpr double kBlockUs = 4096.0 * 1e6 / kRate;
constexpr int64_t kPrebufferFrames = kRate / 5;

// Playback at one endpoint, counted in frames instead of samples: playing
// starts when the prebuffer is full; an underrun is the play position
// overtaking what has arrived, after which it buffers again.
struct Playout {
    int64_t received = 0;
    int64_t startUs = -1;
    int64_t startFrames = 0;
    int underruns = 0;

    int64_t playedAt(int64_t nowUs) const {
        return startFrames + (nowUs - startUs) * kRate / 1000000;
    }
    void check(int64_t nowUs) {
        if (startUs >= 0 && playedAt(nowUs) > received) {
            ++underruns;
            startUs = -1;
            startFrames = received;
        }
    }
    void arrive(int64_t nowUs) {
        check(nowUs);
        received += kUnitFrames;
        if (startUs < 0 && received - startFrames >= kPrebufferFrames) {
            startUs = nowUs;
        }
    }
};

struct Endpoint {
    ClientConnection conn;
    Playout playout;
    bool online = false;
    size_t units = 0;
};

// The clock of the kernel's arrival stamps.
int64_t realtimeMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t{ts.tv_sec} * 1000000 + ts.tv_nsec / 1000;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

long option(int argc, char** argv, const std::string& name, long fallback) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (argv[i] == name) {
            long v = fallback;
            std::from_chars(argv[i + 1], argv[i + 1] + std::char_traits<char>::length(argv[i + 1]),
                            v);
            return v;
        }
    }
    return fallback;
}

int failWith(const std::string& why) {
    std::fprintf(stderr, "end_to_end_bench: %s\n", why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = static_cast<int>(option(argc, argv, "--endpoints", 200));
    const int seconds = static_cast<int>(option(argc, argv, "--seconds", 60));
    std::string missing;
    if (count < 1 || seconds < 1) {
        return failWith("--endpoints and --seconds must be positive");
    }
    if (!ServerProcess::programsBuilt(missing)) {
        return failWith("not built: " + missing);
    }
    ServerProcess server;
    // Longer than the run, so the file does not start over while measuring.
    const std::string source = server.dir().file("bench.wav");
    const std::string make =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
        "\"sine=frequency=440:sample_rate=44100:duration=" +
        std::to_string(seconds + 15) + "\" -ac 2 -c:a pcm_s16le '" + source + "'";
    if (std::system(make.c_str()) != 0) {
        return failWith("ffmpeg could not make the test sound");
    }
    if (!server.start()) {
        return failWith("the server did not start:\n" + server.log());
    }
    const RunResult upload = server.ctl({"upload", source});
    if (upload.status != 0) {
        return failWith("upload failed: " + upload.err);
    }

    std::vector<Endpoint> endpoints(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Endpoint& e = endpoints[static_cast<size_t>(i)];
        std::string error;
        Json::Value reg;
        reg["devId"] = "bench-" + std::to_string(i);
        Json::Value login;
        login["devName"] = reg["devId"];
        if (!e.conn.open("127.0.0.1", server.port(), 5000, error) ||
            !e.conn.useKernelArrivalTimes() || !e.conn.send("register", reg) ||
            !e.conn.send("endpoint-login", login)) {
            return failWith("endpoint " + std::to_string(i) + ": " + error);
        }
    }
    AacDecoder decoder;
    std::string error;
    if (!decoder.open(error)) {
        return failWith(error);
    }
    std::vector<int16_t> pcm;

    std::vector<pollfd> fds(endpoints.size());
    // Per access unit index: earliest and latest arrival over the endpoints.
    std::vector<int64_t> firstArrival;
    std::vector<int64_t> lastArrival;
    std::vector<int> arrivals;
    std::vector<int64_t> decodedAt;  // first endpoint, per unit index
    int online = 0;
    bool scheduled = false;
    int64_t measureUntilUs = 0;
    const int64_t loginDeadline = realtimeMicros() + 60000000;
    ClientMessage m;
    for (;;) {
        const int64_t now = realtimeMicros();
        if (!scheduled && online == count) {
            const RunResult add = server.ctl(
                {"schedules", "add", "--type", "audio", "--file", "bench.wav", "--start", "now",
                 "--duration", std::to_string(seconds + 10), "--target", "all", "--id", "bench"});
            if (add.status != 0) {
                return failWith("the audio schedule was not added: " + add.err);
            }
            scheduled = true;
        }
        if (!scheduled && now > loginDeadline) {
            return failWith(std::to_string(online) + " of " + std::to_string(count) +
                            " endpoints came online");
        }
        if (measureUntilUs > 0 && now >= measureUntilUs) {
            break;
        }
        if (scheduled && measureUntilUs == 0 && now > loginDeadline + 30000000) {
            return failWith("no audio arrived");
        }
        for (size_t i = 0; i < endpoints.size(); ++i) {
            fds[i] = {endpoints[i].conn.fd(), POLLIN, 0};
        }
        poll(fds.data(), fds.size(), 10);
        // Every socket is read first and its arrival time taken; the frames
        // are cut and handled afterwards, so that handling one endpoint's
        // frames does not delay the arrival times of the next.
        for (size_t i = 0; i < endpoints.size(); ++i) {
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) &&
                endpoints[i].conn.fill() != ClientConnection::ReadStatus::Message) {
                return failWith("endpoint " + std::to_string(i) + " lost its connection");
            }
        }
        for (size_t i = 0; i < endpoints.size(); ++i) {
            Endpoint& e = endpoints[i];
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                e.playout.check(realtimeMicros());
                continue;
            }
            while (e.conn.read(0, m) == ClientConnection::ReadStatus::Message) {
                if (m.cmd == "notify-connected" && !e.online) {
                    e.online = true;
                    ++online;
                } else if (m.cmd == "audio-frame-data") {
                    const size_t unit = e.units++;
                    if (unit >= firstArrival.size()) {
                        firstArrival.resize(unit + 1, INT64_MAX);
                        lastArrival.resize(unit + 1, 0);
                        arrivals.resize(unit + 1, 0);
                    }
                    firstArrival[unit] = std::min(firstArrival[unit], m.arrivalUs);
                    lastArrival[unit] = std::max(lastArrival[unit], m.arrivalUs);
                    ++arrivals[unit];
                    e.playout.arrive(m.arrivalUs);
                    if (i == 0) {
                        pcm.clear();
                        decoder.decode(m.binary.data(), m.binary.size(), pcm);
                        decodedAt.push_back(realtimeMicros());
                    }
                    if (measureUntilUs == 0) {
                        measureUntilUs = m.arrivalUs + int64_t{seconds} * 1000000;
                    }
                }
            }
        }
    }
    server.ctl({"schedules", "stop", "bench"});

    // Only units that reached every endpoint count for the spread.
    std::vector<double> spreads;
    // A read that takes in several segments carries the stamp of the newest,
    // which can make an earlier unit look late at some endpoints; the last
    // unit of each block is the newest of its burst and is free of that.
    std::vector<double> lastOfBlock;
    double t0 = 1e300;
    for (size_t u = 0; u < firstArrival.size(); ++u) {
        t0 = std::min(t0, static_cast<double>(firstArrival[u]) -
                              static_cast<double>(u / kUnitsPerBlock) * kBlockUs);
        if (arrivals[u] == count) {
            spreads.push_back((lastArrival[u] - firstArrival[u]) / 1000.0);
            if (u % kUnitsPerBlock == kUnitsPerBlock - 1) {
                lastOfBlock.push_back(spreads.back());
            }
        }
    }
    std::vector<double> delays;
    for (size_t u = 0; u < decodedAt.size(); ++u) {
        delays.push_back((static_cast<double>(decodedAt[u]) - t0 -
                          static_cast<double>(u / kUnitsPerBlock) * kBlockUs) /
                         1000.0);
    }
    int underruns = 0;
    int withUnderruns = 0;
    size_t fewest = SIZE_MAX;
    size_t most = 0;
    for (const Endpoint& e : endpoints) {
        underruns += e.playout.underruns;
        withUnderruns += e.playout.underruns > 0;
        fewest = std::min(fewest, e.units);
        most = std::max(most, e.units);
    }
    const double spread99 = percentile(spreads, 0.99);
    std::printf("end to end: %d endpoints, %d s of one audio schedule\n", count, seconds);
    std::printf("access units per endpoint: %zu to %zu (%.1f per second)\n", fewest, most,
                most / static_cast<double>(seconds));
    std::printf("underruns (200 ms play-out buffer): %d, at %d endpoints   goal 0: %s\n", underruns,
                withUnderruns, underruns == 0 ? "met" : "missed");
    std::printf("delay encode -> decode above the fastest unit: p50 %.2f ms, p99 %.2f ms\n",
                percentile(delays, 0.5), percentile(delays, 0.99));
    std::printf(
        "arrival spread between endpoints: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms, max %.2f ms"
        "   goal p99 <= 5 ms: %s\n",
        percentile(spreads, 0.5), percentile(spreads, 0.9), spread99, percentile(spreads, 1.0),
        spread99 <= 5.0 ? "met" : "missed");
    std::printf(
        "  the same for the last unit of each block: p50 %.2f ms, p90 %.2f ms, p99 %.2f ms\n",
        percentile(lastOfBlock, 0.5), percentile(lastOfBlock, 0.9), percentile(lastOfBlock, 0.99));
    return 0;
}
