// What a manager uploads is what the loudspeaker plays: a generated sound
// goes up with sonavelctl, an audio schedule for now plays it to one
// sonavel-endpoint recording into a WAV file, and the recording must hold
// the sound, pass after pass, until the schedule is stopped.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/clients/ServerProcess.h"
#include "tests/clients/SoundMatch.h"
#include "tests/clients/WavFile.h"

namespace {

constexpr int kRate = 44100;
// The sound: a rising sweep for 0.5 s that marks where each pass starts,
// then a 1 kHz tone; 3 s in all, both channels, at 0.4 of full scale.
constexpr int kSweepEnd = kRate / 2;
const char* kSource =
    "aevalsrc=if(lt(t\\,0.5)\\,0.4*sin(2*PI*(200+4000*t)*t)\\,0.4*sin(2*PI*1000*t))"
    "|if(lt(t\\,0.5)\\,0.4*sin(2*PI*(200+4000*t)*t)\\,0.4*sin(2*PI*1000*t)):s=44100:d=3";
// A pass sends the whole 4096-frame blocks of the file: 32 of them.
constexpr long kPassFrames = 32 * 4096;

long fileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
}

}  // namespace

TEST(EndToEndAudio, RecordingIsTheUploadedSoundLoopedUntilStopped) {
    std::string missing;
    if (!ServerProcess::programsBuilt(missing)) {
        GTEST_SKIP() << "not built: " << missing;
    }
    ServerProcess server;
    const std::string source = server.dir().file("tone.wav");
    const std::string make = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i \"" +
                             std::string(kSource) + "\" -c:a pcm_s16le '" + source + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    ASSERT_TRUE(server.start()) << server.log();

    const std::string recording = server.dir().file("recording.wav");
    auto endpoint = server.endpoint("speaker-1", {"--wav", recording});
    ASSERT_NE(endpoint->waitForText("status: online as speaker-1", 10000), std::string::npos)
        << endpoint->output();

    const RunResult upload = server.ctl({"upload", source});
    ASSERT_EQ(upload.status, 0) << upload.out << upload.err;
    const RunResult add =
        server.ctl({"schedules", "add", "--type", "audio", "--file", "tone.wav", "--start", "now",
                    "--duration", "60", "--target", "endpoint:speaker-1", "--id", "a1"});
    if (add.status != 0 && add.err.find("did not store") != std::string::npos) {
        GTEST_SKIP() << "this server answers no schedule commands, so nothing can play: "
                     << add.err;
    }
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    ASSERT_NE(endpoint->waitForText("audio schedule a1:", 10000), std::string::npos)
        << endpoint->output() << server.log();

    // Two passes and a half: enough to see the loop and two whole passes.
    const long wanted = 44 + static_cast<long>(2.5 * kPassFrames) * 4;
    for (int i = 0; i < 300 && fileSize(recording) < wanted; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_GE(fileSize(recording), wanted) << endpoint->output() << server.log();

    const RunResult stop = server.ctl({"schedules", "stop", "a1"});
    EXPECT_EQ(stop.status, 0) << stop.err;
    ASSERT_NE(endpoint->waitForText("audio schedule a1 stopped", 5000), std::string::npos)
        << endpoint->output();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long afterStop = fileSize(recording);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(fileSize(recording), afterStop) << "audio still played after the stop";
    EXPECT_EQ(endpoint->stop(), 0);
    EXPECT_NE(endpoint->output().find("audio underruns:"), std::string::npos);

    WavAudio ref;
    WavAudio rec;
    ASSERT_TRUE(readWav(source, ref));
    ASSERT_TRUE(readWav(recording, rec));
    ASSERT_EQ(rec.rate, kRate);
    ASSERT_EQ(rec.channels, 2);

    // Each pass starts with the sweep; a piece of it finds every pass start.
    const long probeAt = 4096;
    const long probeLength = 2048;
    const std::vector<long> peaks =
        findProbe(rec.left, ref.left.data() + probeAt, probeLength, 0.95);
    ASSERT_GE(peaks.size(), 2u) << "the sound did not loop";
    for (size_t i = 1; i < peaks.size(); ++i) {
        EXPECT_NEAR(peaks[i] - peaks[i - 1], kPassFrames, 2048) << "pass " << i;
    }
    // Every whole pass, aligned on its sweep, is the uploaded sound: the
    // sweep correlates, and the tone's SNR is at least 40 dB on both channels.
    const long toneFrom = kSweepEnd + kRate / 10;
    const long toneLength = kPassFrames - kRate / 10 - toneFrom;
    int whole = 0;
    for (long peak : peaks) {
        const long start = peak - probeAt;
        if (start < 0 || start + toneFrom + toneLength > static_cast<long>(rec.left.size())) {
            continue;
        }
        ++whole;
        const double sweep = correlation(rec.left.data() + start, ref.left.data(), kSweepEnd);
        const double left =
            snrDb(ref.left.data() + toneFrom, rec.left.data() + start + toneFrom, toneLength);
        const double right =
            snrDb(ref.right.data() + toneFrom, rec.right.data() + start + toneFrom, toneLength);
        std::printf("pass at frame %ld: sweep correlation %.5f, tone SNR %.1f dB / %.1f dB\n",
                    start, sweep, left, right);
        EXPECT_GT(sweep, 0.99) << "pass at " << start;
        EXPECT_GE(left, 40.0) << "left, pass at " << start;
        EXPECT_GE(right, 40.0) << "right, pass at " << start;
    }
    EXPECT_GE(whole, 2);
}
