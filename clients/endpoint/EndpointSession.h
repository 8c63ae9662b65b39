#pragma once
// One endpoint's life on the session thread (the main thread): connect,
// "register", "endpoint-login", then play and show what the server sends;
// when the server goes (closed socket, or no frame for the heartbeat timeout)
// reconnect with a growing back-off. Only the player has a thread of its own.

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "clients/common/ClientConnection.h"
#include "clients/endpoint/AacDecoder.h"
#include "clients/endpoint/AudioPlayer.h"
#include "clients/endpoint/Backoff.h"
#include "clients/endpoint/EndpointOptions.h"

class EndpointSession {
public:
    EndpointSession(const EndpointOptions& options, AudioPlayer& player);

    // Runs until stop is set; returns the process exit status.
    int run(const std::atomic<bool>& stop);

private:
    bool connect(std::string& why);
    // Reads and handles frames until the connection is lost or stop is set.
    void serve(const std::atomic<bool>& stop, std::string& why);
    void handle(const ClientMessage& message);
    void onConnected(const Json::Value& msg);
    void onDoSchedule(const Json::Value& msg);
    void onAudio(const ClientMessage& message);
    void onStopSchedule(const Json::Value& msg);
    void play(const std::string& scheduleId);
    void stopPlaying();
    void setStatus(const std::string& connection);

    const EndpointOptions& options_;
    AudioPlayer& player_;
    ClientConnection conn_;
    Backoff backoff_;
    AacDecoder decoder_;
    std::vector<int16_t> pcm_;
    // Audio schedules started and not stopped, latest last; the latest plays.
    std::vector<std::string> audioSchedules_;
    std::string playingId_;
    std::set<std::string> shutdownsRun_;
    std::string connectionStatus_;
    std::string lastStatus_;
    uint64_t damagedUnits_ = 0;
};
