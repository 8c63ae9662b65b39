// sonavel-endpoint: a playback device for a Sonavel server. Main thread.

#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include "clients/endpoint/AlsaSink.h"
#include "clients/endpoint/AudioPlayer.h"
#include "clients/endpoint/EndpointOptions.h"
#include "clients/endpoint/EndpointSession.h"
#include "clients/endpoint/WavSink.h"
#include "common/Logger.h"

namespace {

std::atomic<bool> gStop{false};

void onStopSignal(int) {
    gStop = true;
}

std::unique_ptr<AudioSink> makeSink(const EndpointOptions& o) {
    switch (o.output) {
        case EndpointOptions::Output::Wav:
            return std::make_unique<WavSink>(o.wavPath);
        case EndpointOptions::Output::Null:
            return std::make_unique<NullSink>();
        case EndpointOptions::Output::Alsa:
            break;
    }
    return std::make_unique<AlsaSink>(o.alsaDevice);
}

}  // namespace

int main(int argc, char** argv) {
    EndpointOptions options;
    std::string error;
    if (!parseEndpointOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "sonavel-endpoint: %s\n%s", error.c_str(), endpointUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(endpointUsage().c_str(), stdout);
        return 0;
    }
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    // Shutdown commands are not waited for; let the system reap them.
    signal(SIGCHLD, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    AudioPlayer player(makeSink(options), options.prebufferMs);
    if (!player.start(error)) {
        gLogger().logout("cannot start audio output: %s", error.c_str());
        return 1;
    }
    gLogger().logout("sonavel-endpoint %s (%s): output to %s", options.devId.c_str(),
                     options.devName.c_str(), player.sink().describe().c_str());
    EndpointSession session(options, player);
    const int status = session.run(gStop);
    gLogger().logout("audio underruns: %llu", static_cast<unsigned long long>(player.underruns()));
    return status;
}
