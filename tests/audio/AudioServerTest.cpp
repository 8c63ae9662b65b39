#include "server/audio/AudioServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "tests/audio/AacTestDecoder.h"
#include "tests/audio/FakeClock.h"
#include "tests/audio/TestMedia.h"

namespace {

constexpr int kBlock = PcmPlayer::kBlockBytes;
constexpr int kLag = 512;  // the AAC decoder's output lags its input by this much

// Every file the tests play, made once per test program on first use.
const std::string& media(const std::string& name) {
    static TempDir dir;
    static const std::map<std::string, std::string> recipes = {
        {"tone.mp3",
         "-f lavfi -i 'aevalsrc=0.5*sin(2*PI*1000*t):s=22050:d=2' -ac 1 -c:a libmp3lame -b:a 64k"},
        {"stereo.wav",
         "-f lavfi -i 'aevalsrc=0.4*sin(2*PI*440*t)|0.4*sin(2*PI*1320*t):s=44100:d=1' "
         "-c:a pcm_s16le"},
        {"short.wav",
         "-f lavfi -i 'aevalsrc=0.3*sin(2*PI*600*t):s=44100:d=0.5' -ac 2 -c:a pcm_s16le"},
        {"still.png", "-f lavfi -i color=c=blue:s=16x16 -frames:v 1"},
    };
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it == made.end()) {
        it = made.emplace(name, makeMedia(dir, name, recipes.at(name))).first;
    }
    EXPECT_FALSE(it->second.empty()) << "ffmpeg could not make " << name;
    return it->second;
}

// Collects what an AudioServer raises, from whichever thread raises it.
struct Recorder {
    std::mutex mutex;
    std::vector<AudioEvent> events;
    std::vector<std::vector<uint8_t>> packets;
    std::atomic<int> endOfFiles{0};

    static void onEvent(AudioEvent event, const uint8_t* data, int length, void* user) {
        auto* self = static_cast<Recorder*>(user);
        std::lock_guard<std::mutex> lock(self->mutex);
        self->events.push_back(event);
        if (event == AudioEvent::Packet) {
            self->packets.emplace_back(data, data + length);
        } else {
            self->endOfFiles.fetch_add(1);
        }
    }

    size_t eventCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return events.size();
    }
};

// One pull and what it raised.
struct Pull {
    int returned;
    std::vector<AudioEvent> events;
    int packetBytes;
};

Pull pullOnce(AudioServer& audio, Recorder& rec) {
    std::vector<uint8_t> block(kBlock, 0xAB);
    size_t eventsBefore;
    size_t packetsBefore;
    {
        std::lock_guard<std::mutex> lock(rec.mutex);
        eventsBefore = rec.events.size();
        packetsBefore = rec.packets.size();
    }
    Pull pull{audio.pullPcm(block.data(), kBlock), {}, 0};
    std::lock_guard<std::mutex> lock(rec.mutex);
    pull.events.assign(rec.events.begin() + static_cast<std::ptrdiff_t>(eventsBefore),
                       rec.events.end());
    for (size_t i = packetsBefore; i < rec.packets.size(); ++i) {
        pull.packetBytes += static_cast<int>(rec.packets[i].size());
    }
    return pull;
}

int packetsIn(const Pull& pull) {
    return static_cast<int>(std::count(pull.events.begin(), pull.events.end(), AudioEvent::Packet));
}

// Pulls until EndOfFile; returns every pull, the last one holding the flush.
std::vector<Pull> pullToEnd(AudioServer& audio, Recorder& rec) {
    std::vector<Pull> pulls;
    while (rec.endOfFiles.load() == 0 && pulls.size() < 1000) {
        pulls.push_back(pullOnce(audio, rec));
    }
    return pulls;
}

double rms(const std::vector<float>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) {
        sum += static_cast<double>(s[i]) * s[i];
    }
    return std::sqrt(sum / static_cast<double>(to - from));
}

// Frequency from upward zero crossings, which is plenty for a pure tone.
double toneFrequency(const std::vector<float>& s, size_t from, size_t to) {
    size_t first = 0;
    size_t last = 0;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (crossings == 0) {
                first = i;
            }
            last = i;
            ++crossings;
        }
    }
    return crossings < 2 ? 0 : (crossings - 1) * 44100.0 / static_cast<double>(last - first);
}

double decibels(double ratio) {
    return 20 * std::log10(ratio);
}

}  // namespace

TEST(AudioServerOpen, FailuresAreLoggedAndNothingIsRaised) {
    TempDir dir;
    const std::string textFile = dir.file("notes.mp3");
    ASSERT_EQ(0, std::system(("echo 'not a sound' > '" + textFile + "'").c_str()));
    struct Case {
        std::string path;
        std::string logged;
    } cases[] = {
        {dir.file("missing.mp3"), "avformat_open_input failed: -2"},
        {textFile, "avformat_open_input failed: "},
        {media("still.png"), "can't find audio stream"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Recorder rec;
        AudioServer audio(&Recorder::onEvent, &rec);
        testing::internal::CaptureStdout();
        bool opened = audio.open(c.path);
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(opened);
        EXPECT_FALSE(audio.isOpen());
        EXPECT_NE(std::string::npos, log.find(c.logged)) << log;
        EXPECT_FALSE(audio.player().running());
        std::vector<uint8_t> block(kBlock);
        EXPECT_EQ(0, audio.pullPcm(block.data(), kBlock));
        audio.close();
        EXPECT_EQ(0u, rec.eventCount());
    }
}

TEST(AudioServerOpen, ReportsTheFixedStreamFormatAndClosesTwice) {
    Recorder rec;
    AudioServer audio(&Recorder::onEvent, &rec);
    ASSERT_TRUE(audio.open(media("stereo.wav"), AudioServer::Pacing::Manual));
    EXPECT_TRUE(audio.isOpen());
    EXPECT_FALSE(audio.player().running());
    EXPECT_EQ((std::vector<uint8_t>{0xBA, 0x11, 0x00}), audio.audioSpecificConfig());
    EXPECT_EQ(512, audio.frameLength());
    EXPECT_FALSE(audio.open(media("stereo.wav"), AudioServer::Pacing::Manual));
    audio.close();
    audio.close();
    EXPECT_FALSE(audio.isOpen());
    std::vector<uint8_t> block(kBlock);
    EXPECT_EQ(0, audio.pullPcm(block.data(), kBlock));
    EXPECT_EQ(0u, rec.eventCount());
}

TEST(AudioServerPull, EveryFullBlockGivesEightPackets) {
    for (const char* name : {"tone.mp3", "stereo.wav"}) {
        SCOPED_TRACE(name);
        Recorder rec;
        AudioServer audio(&Recorder::onEvent, &rec);
        ASSERT_TRUE(audio.open(media(name), AudioServer::Pacing::Manual));
        std::vector<Pull> pulls = pullToEnd(audio, rec);
        ASSERT_GT(pulls.size(), 5u);
        int packets = 0;
        int bytes = 0;
        for (size_t i = 0; i + 1 < pulls.size(); ++i) {
            EXPECT_EQ(8, packetsIn(pulls[i])) << "pull " << i;
            EXPECT_EQ(pulls[i].packetBytes, pulls[i].returned);
            packets += packetsIn(pulls[i]);
            bytes += pulls[i].returned;
        }
        // 96000 bit/s at 44100 / 512 packets a second: about 139.3 bytes each.
        EXPECT_NEAR(96000.0 / 8 / (44100.0 / 512), static_cast<double>(bytes) / packets, 3.0);
    }
}

TEST(AudioServerPull, EndOfFileFlushesOnceThenRepeatsOnEveryPull) {
    Recorder rec;
    AudioServer audio(&Recorder::onEvent, &rec);
    ASSERT_TRUE(audio.open(media("short.wav"), AudioServer::Pacing::Manual));
    // 22050 frames: five full blocks; the sixth meets the end and is not sent.
    std::vector<Pull> pulls = pullToEnd(audio, rec);
    ASSERT_EQ(6u, pulls.size());
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(8, packetsIn(pulls[i]));
    }
    const Pull& last = pulls.back();
    ASSERT_GE(last.events.size(), 2u);
    EXPECT_EQ(AudioEvent::EndOfFile, last.events.back());
    EXPECT_EQ(static_cast<int>(last.events.size()) - 1, packetsIn(last));
    EXPECT_EQ(last.packetBytes, last.returned);
    for (int i = 0; i < 3; ++i) {
        Pull again = pullOnce(audio, rec);
        EXPECT_EQ(0, again.returned);
        EXPECT_EQ(std::vector<AudioEvent>{AudioEvent::EndOfFile}, again.events);
    }
    // What was sent decodes to the five blocks the encoder was given.
    DecodedPcm pcm;
    ASSERT_TRUE(decodeAac(audio.audioSpecificConfig(), rec.packets, pcm));
    EXPECT_GE(pcm.left.size(), 5u * 4096);
}

TEST(AudioServerSound, MonoMp3ComesOutAsItsToneAtFullLevelOnBothSides) {
    Recorder rec;
    AudioServer audio(&Recorder::onEvent, &rec);
    ASSERT_TRUE(audio.open(media("tone.mp3"), AudioServer::Pacing::Manual));
    pullToEnd(audio, rec);
    DecodedPcm pcm;
    ASSERT_TRUE(decodeAac(audio.audioSpecificConfig(), rec.packets, pcm));
    // Two seconds at 44100 less the block the end fell in.
    ASSERT_GT(pcm.left.size(), 80000u);
    const size_t from = 4096;
    const size_t to = pcm.left.size() - 4096;
    for (const std::vector<float>* side : {&pcm.left, &pcm.right}) {
        EXPECT_NEAR(1000.0, toneFrequency(*side, from, to), 5.0);
        // Written at amplitude 0.5; the default mono mix would give 3 dB less.
        EXPECT_NEAR(0.0, decibels(rms(*side, from, to) * std::sqrt(2.0) / 0.5), 1.0);
        // No gaps: every 10 ms keeps the level.
        for (size_t at = from; at + 441 <= to; at += 441) {
            ASSERT_GT(rms(*side, at, at + 441), 0.2) << "quiet at sample " << at;
        }
    }
}

TEST(AudioServerSound, StereoWavKeepsItsSidesAndEverySample) {
    Recorder rec;
    AudioServer audio(&Recorder::onEvent, &rec);
    ASSERT_TRUE(audio.open(media("stereo.wav"), AudioServer::Pacing::Manual));
    pullToEnd(audio, rec);
    DecodedPcm pcm;
    ASSERT_TRUE(decodeAac(audio.audioSpecificConfig(), rec.packets, pcm));
    ASSERT_EQ(rec.packets.size() * 512, pcm.left.size());
    // Ten full blocks of the 44100 frames are sent.
    ASSERT_GE(pcm.left.size(), 10u * 4096);
    struct Side {
        const std::vector<float>* samples;
        double frequency;
    } sides[] = {{&pcm.left, 440.0}, {&pcm.right, 1320.0}};
    const double kPi = std::acos(-1.0);
    for (const Side& side : sides) {
        SCOPED_TRACE(side.frequency);
        // Sample for sample against the source, shifted by the decoder's lag:
        // a dropped, doubled or silenced stretch would show as a large error.
        double error = 0;
        size_t count = 0;
        for (size_t i = 2048; i < 10u * 4096; ++i) {
            double expected = 0.4 * std::sin(2 * kPi * side.frequency * (i - kLag) / 44100.0);
            double diff = (*side.samples)[i] - expected;
            error += diff * diff;
            ++count;
        }
        double snr = decibels(0.4 / std::sqrt(2.0) / std::sqrt(error / count));
        EXPECT_GT(snr, 40.0);
    }
}

TEST(AudioServerSound, DamagedPacketsBecomeSilenceAndTheStreamGoesOn) {
    TempDir dir;
    const std::string damaged = dir.file("damaged.mp3");
    std::filesystem::copy_file(media("tone.mp3"), damaged);
    {
        // Scramble a stretch in the middle of the file, a few frames long.
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        std::mt19937 random(7);
        file.seekp(6000);
        for (int i = 0; i < 600; ++i) {
            file.put(static_cast<char>(random() & 0xFF));
        }
    }
    Recorder rec;
    AudioServer audio(&Recorder::onEvent, &rec);
    ASSERT_TRUE(audio.open(damaged, AudioServer::Pacing::Manual));
    testing::internal::CaptureStdout();
    std::vector<Pull> pulls = pullToEnd(audio, rec);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, log.find("audio packet does not decode")) << log;
    ASSERT_GT(pulls.size(), 15u);
    for (size_t i = 0; i + 1 < pulls.size(); ++i) {
        EXPECT_EQ(8, packetsIn(pulls[i])) << "pull " << i;
    }
    DecodedPcm pcm;
    ASSERT_TRUE(decodeAac(audio.audioSpecificConfig(), rec.packets, pcm));
    // A silent stretch where the damage was, and the tone after it.
    double quietest = 1;
    for (size_t at = 4096; at + 441 <= pcm.left.size() / 2; at += 441) {
        quietest = std::min(quietest, rms(pcm.left, at, at + 441));
    }
    EXPECT_LT(quietest, 0.01);
    const size_t end = pcm.left.size() - 4096;
    EXPECT_NEAR(1000.0, toneFrequency(pcm.left, end - 22050, end), 5.0);
}

TEST(AudioServerPaced, PlayerPullsOnItsOwnThreadUntilClosed) {
    FakeClock clock;
    Recorder rec;
    AudioServer audio(&Recorder::onEvent, &rec, clock);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(audio.open(media("short.wav")));
    EXPECT_TRUE(audio.player().running());
    // The fake clock never waits: the player runs through the file at once
    // and then raises EndOfFile on every pull.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (rec.endOfFiles.load() < 3 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    audio.close();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, log.find("pcm player inited falied, use fake proc")) << log;
    EXPECT_FALSE(audio.player().running());
    ASSERT_GE(rec.endOfFiles.load(), 3);
    std::lock_guard<std::mutex> lock(rec.mutex);
    size_t firstEnd =
        std::find(rec.events.begin(), rec.events.end(), AudioEvent::EndOfFile) - rec.events.begin();
    EXPECT_GE(firstEnd, 40u);
    for (size_t i = firstEnd; i < rec.events.size(); ++i) {
        EXPECT_EQ(AudioEvent::EndOfFile, rec.events[i]);
    }
}

// The owner must not close a stream from its own event; if it does, the close
// is refused instead of waiting for itself, and a later close finishes it.
TEST(AudioServerPaced, CloseFromItsOwnEventIsRefused) {
    struct Owner {
        AudioServer* audio = nullptr;
        std::atomic<bool> refusedClose{false};
        std::atomic<int> eventsAfter{0};
        static void onEvent(AudioEvent event, const uint8_t*, int, void* user) {
            auto* self = static_cast<Owner*>(user);
            if (self->refusedClose.load()) {
                self->eventsAfter.fetch_add(1);
            } else if (event == AudioEvent::Packet) {
                self->audio->close();
                self->refusedClose.store(true);
            }
        }
    } owner;
    FakeClock clock;
    AudioServer audio(&Owner::onEvent, &owner, clock);
    owner.audio = &audio;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(audio.open(media("short.wav")));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!owner.refusedClose.load() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    audio.close();
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(owner.refusedClose.load());
    EXPECT_NE(std::string::npos, log.find("pcm player stop called on its own thread")) << log;
    EXPECT_FALSE(audio.isOpen());
    // The player ends after the block it was in: its other seven packets only.
    EXPECT_EQ(7, owner.eventsAfter.load());
}
