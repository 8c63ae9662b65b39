// Encoder speed as a multiple of real time: decode, resample and encode of a
// generated 60 s file, pulled block by block as fast as possible. Needs the
// ffmpeg command-line tool to make the input. Prints figures; never fails a build.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "server/audio/AudioServer.h"

namespace {

constexpr double kSeconds = 60.0;

struct Tally {
    long packets = 0;
    long bytes = 0;
    int smallest = 1 << 30;
    int largest = 0;
    bool ended = false;

    static void onEvent(AudioEvent event, const uint8_t*, int length, void* user) {
        auto* self = static_cast<Tally*>(user);
        if (event == AudioEvent::EndOfFile) {
            self->ended = true;
            return;
        }
        ++self->packets;
        self->bytes += length;
        self->smallest = std::min(self->smallest, length);
        self->largest = std::max(self->largest, length);
    }
};

double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool makeInput(const std::string& path, const std::string& args) {
    std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " '" + path + "'";
    return std::system(command.c_str()) == 0;
}

void run(const std::string& label, const std::string& path) {
    Tally tally;
    AudioServer audio(&Tally::onEvent, &tally);
    if (!audio.open(path, AudioServer::Pacing::Manual)) {
        std::printf("%s: cannot open %s\n", label.c_str(), path.c_str());
        return;
    }
    std::vector<uint8_t> block(PcmPlayer::kBlockBytes);
    long blocks = 0;
    const double cpuStart = threadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    while (!tally.ended) {
        audio.pullPcm(block.data(), PcmPlayer::kBlockBytes);
        ++blocks;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = threadCpuSeconds() - cpuStart;
    audio.close();
    // The block in which the file ended is not encoded.
    const double audioSeconds = static_cast<double>(blocks - 1) * 4096 / 44100;
    std::printf("%s\n", label.c_str());
    std::printf("  audio encoded      %.2f s in %ld blocks\n", audioSeconds, blocks - 1);
    std::printf("  wall time          %.3f s, cpu time %.3f s\n", wall, cpu);
    std::printf("  speed              %.1f x real time (by cpu: %.1f x)\n", audioSeconds / wall,
                audioSeconds / cpu);
    std::printf("  per block          %.3f ms of the 92.9 ms budget\n", wall * 1000 / (blocks - 1));
    std::printf("  packets            %ld (%.2f per second of audio)\n", tally.packets,
                static_cast<double>(tally.packets) / audioSeconds);
    std::printf("  packet bytes       min %d, mean %.1f, max %d; %.0f bit/s\n", tally.smallest,
                static_cast<double>(tally.bytes) / static_cast<double>(tally.packets),
                tally.largest, static_cast<double>(tally.bytes) * 8 / audioSeconds);
}

}  // namespace

int main() {
    char pattern[] = "/tmp/sonavel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    const std::string seconds = std::to_string(static_cast<int>(kSeconds));
    // A chord with a little noise, so the encoder has real work to do.
    const std::string chord =
        "0.2*sin(2*PI*220*t)+0.1*sin(2*PI*1234*t)+0.05*sin(2*PI*5000*t)+0.05*(random(0)-0.5)";
    struct Input {
        std::string label;
        std::string file;
        std::string args;
    } inputs[] = {
        {"44100 Hz stereo mp3 (no resampling)", "stereo44.mp3",
         "-f lavfi -i 'aevalsrc=" + chord + "|" + chord + ":s=44100:d=" + seconds +
             "' -c:a libmp3lame -b:a 192k"},
        {"22050 Hz mono mp3 (resampled, upmixed)", "mono22.mp3",
         "-f lavfi -i 'aevalsrc=" + chord + ":s=22050:d=" + seconds + "' -c:a libmp3lame -b:a 64k"},
        {"48000 Hz stereo wav (resampled)", "stereo48.wav",
         "-f lavfi -i 'aevalsrc=" + chord + "|" + chord + ":s=48000:d=" + seconds +
             "' -c:a pcm_s16le"},
    };
    for (const Input& input : inputs) {
        const std::string path = dir + "/" + input.file;
        if (!makeInput(path, input.args)) {
            std::printf("%s: ffmpeg could not make the input\n", input.label.c_str());
            continue;
        }
        run(input.label, path);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
