// The audio schedule's side of streaming: opening, looping and sending.

#include <json/json.h>

#include <memory>
#include <string>

#include "common/Logger.h"
#include "server/audio/AudioServer.h"
#include "server/schedule/Schedule.h"
#include "server/schedule/ScheduleHost.h"
#include "server/schedule/ScheduleRegistry.h"

namespace {

// The "file" member of an audio schedule's content, or empty text.
std::string fileOfContent(const std::string& content) {
    Json::CharReaderBuilder builder;  // lenient: comments and any root allowed
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(content.data(), content.data() + content.size(), &root, &errors) ||
        !root.isObject() || !root.isMember("file") ||
        !root["file"].isConvertibleTo(Json::stringValue)) {
        return "";
    }
    return root["file"].asString();
}

// Names of files in the Files folder only: no way out of it.
bool isPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

void Schedule::closeStream() {
    if (audio) {
        audio->close();
        audio.reset();
    }
}

void startPlayback(const std::shared_ptr<Schedule>& schedule, uint64_t generation) {
    std::lock_guard<std::mutex> lock(schedule->streamMutex_);
    if (schedule->streamStopped_ || schedule->generation_.load() != generation) {
        return;
    }
    schedule->closeStream();
    schedule->generation_.store(generation + 1);
    schedule->audio = std::make_shared<AudioServer>(onAudioEvent, schedule.get());

    std::string file = fileOfContent(schedule->content);
    if (file.empty()) {
        return;
    }
    if (!isPlainFileName(file)) {
        gLogger().logout("schedule %s: file name not allowed: %s", schedule->scheduleId.c_str(),
                         file.c_str());
        schedule->audio.reset();
        return;
    }
    if (!schedule->audio->open(schedule->server.filesFolder() + "/" + file)) {
        schedule->audio.reset();
    }
}

void onAudioEvent(AudioEvent event, const uint8_t* data, int length, void* user) {
    auto* schedule = static_cast<Schedule*>(user);
    if (event == AudioEvent::Packet) {
        Json::Value msg;
        msg["id"] = schedule->scheduleId;
        schedule->server.queueForTarget(schedule->target, "audio-frame-data", msg, data,
                                        static_cast<size_t>(length));
    } else if (event == AudioEvent::EndOfFile) {
        // Closing the old stream waits for this very thread, so the restart
        // runs on a thread of its own.
        std::shared_ptr<Schedule> self = schedule->weak_from_this().lock();
        if (!self) {
            return;
        }
        uint64_t generation = schedule->generation_.load();
        schedule->server.scheduleRegistry().launch(
            [self = std::move(self), generation] { startPlayback(self, generation); });
    }
}
