#include "clients/endpoint/EndpointSession.h"

#include <algorithm>
#include <thread>

#include "common/Logger.h"
#include "common/Platform.h"

namespace {

std::string text(const Json::Value& msg, const char* key) {
    if (!msg.isObject()) {
        return "";
    }
    const Json::Value& v = msg[key];
    if (v.isString()) {
        return v.asString();
    }
    return v.isNull() ? "" : v.toStyledString();
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) {
        s.pop_back();
    }
    return s;
}

// Sleeps in short steps so that a stop request is not kept waiting.
void sleepUnlessStopped(int64_t ms, const std::atomic<bool>& stop) {
    const int64_t until = gettime2() + ms;
    while (!stop && gettime2() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(
            std::min<int64_t>(50, std::max<int64_t>(1, until - gettime2()))));
    }
}

}  // namespace

EndpointSession::EndpointSession(const EndpointOptions& options, AudioPlayer& player)
    : options_(options), player_(player), backoff_(options.retryFirstMs, options.retryMaxMs) {}

void EndpointSession::setStatus(const std::string& connection) {
    connectionStatus_ = connection;
    std::string line = "status: " + connectionStatus_;
    if (!playingId_.empty()) {
        line += "; playing schedule " + playingId_;
    }
    if (line != lastStatus_) {
        lastStatus_ = line;
        gLogger().logout("%s", line.c_str());
    }
}

int EndpointSession::run(const std::atomic<bool>& stop) {
    std::string error;
    if (!decoder_.open(error)) {
        gLogger().logout("cannot play audio: %s", error.c_str());
        return 1;
    }
    while (!stop) {
        setStatus("connecting to " + options_.host + ":" + std::to_string(options_.port));
        std::string why;
        if (connect(why)) {
            serve(stop, why);
        }
        conn_.close();
        stopPlaying();
        audioSchedules_.clear();
        if (stop) {
            break;
        }
        const int64_t delay = backoff_.next();
        setStatus("offline (" + why + "); next try in " + std::to_string(delay) + " ms");
        sleepUnlessStopped(delay, stop);
    }
    setStatus("stopped");
    return 0;
}

bool EndpointSession::connect(std::string& why) {
    if (!conn_.open(options_.host, options_.port, 3000, why)) {
        return false;
    }
    Json::Value reg;
    reg["devId"] = options_.devId;
    Json::Value login;
    login["devName"] = options_.devName;
    if (!conn_.send("register", reg) || !conn_.send("endpoint-login", login)) {
        why = "connection lost while logging in";
        return false;
    }
    setStatus("logging in as " + options_.devId);
    return true;
}

void EndpointSession::serve(const std::atomic<bool>& stop, std::string& why) {
    ClientMessage message;
    while (!stop) {
        switch (conn_.read(100, message)) {
            case ClientConnection::ReadStatus::Message:
                handle(message);
                break;
            case ClientConnection::ReadStatus::Timeout:
                break;
            case ClientConnection::ReadStatus::Closed:
                why = "connection closed";
                return;
            case ClientConnection::ReadStatus::Malformed:
                why = "malformed data from the server";
                return;
        }
        if (gettime2() - conn_.lastFrameMs() > options_.heartbeatTimeoutMs) {
            why = "no heartbeat for " + std::to_string(options_.heartbeatTimeoutMs) + " ms";
            return;
        }
    }
}

void EndpointSession::handle(const ClientMessage& m) {
    if (m.cmd == "audio-frame-data") {
        onAudio(m);
    } else if (m.cmd == "heartbeat") {
        return;
    } else if (m.cmd == "notify-connected") {
        onConnected(m.msg);
    } else if (m.cmd == "do-schedule") {
        onDoSchedule(m.msg);
    } else if (m.cmd == "stop-schedule") {
        onStopSchedule(m.msg);
    } else if (m.cmd == "stop-notice") {
        gLogger().logout("notices stopped");
    }
    // Everything else (lists and state changes meant for managers) is not ours.
}

void EndpointSession::onConnected(const Json::Value& msg) {
    if (text(msg, "devId") != options_.devId) {
        return;
    }
    backoff_.reset();
    const Json::Value info = msg.isObject() ? msg["serverInfo"] : Json::Value();
    std::string line = "online as " + options_.devId + " (" + options_.devName + ")";
    if (info.isObject()) {
        line += ", server " + text(info, "version");
        if (info["httpPort"].isIntegral()) {
            line += ", files on port " + std::to_string(info["httpPort"].asInt64());
        }
    }
    setStatus(line);
}

void EndpointSession::onDoSchedule(const Json::Value& msg) {
    const std::string id = text(msg, "id");
    const std::string type = text(msg, "type");
    const std::string content = trimmed(text(msg, "content"));
    if (type == "audio") {
        gLogger().logout("audio schedule %s: %s", id.c_str(), content.c_str());
        audioSchedules_.erase(std::remove(audioSchedules_.begin(), audioSchedules_.end(), id),
                              audioSchedules_.end());
        audioSchedules_.push_back(id);
        play(id);
    } else if (type == "notice") {
        gLogger().logout("notice %s: %s", id.c_str(), content.c_str());
    } else if (type == "shutdown") {
        gLogger().logout("shutdown ordered by schedule %s", id.c_str());
        // A late join re-sends the same order; it is carried out once.
        if (!options_.onShutdown.empty() && shutdownsRun_.insert(id).second) {
            const pid_t pid = spawnDetached("/bin/sh", {"-c", options_.onShutdown}, "/");
            gLogger().logout("shutdown command %s: %s", pid > 0 ? "started" : "failed to start",
                             options_.onShutdown.c_str());
        }
    } else {
        gLogger().logout("schedule %s of type %s: %s", id.c_str(), type.c_str(), content.c_str());
    }
}

void EndpointSession::onAudio(const ClientMessage& m) {
    if (playingId_.empty() || text(m.msg, "id") != playingId_) {
        return;
    }
    pcm_.clear();
    if (!decoder_.decode(m.binary.data(), m.binary.size(), pcm_)) {
        if (damagedUnits_++ % 100 == 0) {
            gLogger().logout("damaged audio unit of %zu bytes skipped (%llu so far)",
                             m.binary.size(), static_cast<unsigned long long>(damagedUnits_));
        }
        return;
    }
    player_.push(pcm_.data(), pcm_.size() / 2);
}

void EndpointSession::onStopSchedule(const Json::Value& msg) {
    const std::string id = text(msg, "id");
    const auto it = std::find(audioSchedules_.begin(), audioSchedules_.end(), id);
    if (it == audioSchedules_.end()) {
        gLogger().logout("schedule %s stopped", id.c_str());
        return;
    }
    audioSchedules_.erase(it);
    gLogger().logout("audio schedule %s stopped", id.c_str());
    if (id != playingId_) {
        return;
    }
    if (audioSchedules_.empty()) {
        stopPlaying();
        setStatus(connectionStatus_);
    } else {
        play(audioSchedules_.back());
    }
}

void EndpointSession::play(const std::string& scheduleId) {
    decoder_.reset();
    player_.begin();
    playingId_ = scheduleId;
    setStatus(connectionStatus_);
}

void EndpointSession::stopPlaying() {
    if (!playingId_.empty()) {
        player_.end();
        playingId_.clear();
    }
}
