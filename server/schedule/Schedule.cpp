#include "server/schedule/Schedule.h"

#include <cstdlib>

#include "server/schedule/ScheduleHost.h"
#include "server/schedule/ScheduleRegistry.h"
#include "server/schedule/ScheduleRules.h"
#include "server/schedule/ScheduleTime.h"

Schedule::Schedule(const QueryResult& result, long row, ScheduleHost& host)
    : scheduleId(result.cell(row, "scheduleId")),
      scheduleType(result.cell(row, "scheduleType")),
      repeat(std::atoi(result.cell(row, "repeat").c_str())),
      content(result.cell(row, "content")),
      state(result.cell(row, "state")),
      createTime(parseDateTime(result.cell(row, "createTime"))),
      duration(std::atoll(result.cell(row, "duration").c_str())),
      startTime(parseTimeOfDay(result.cell(row, "startTime"))),
      server(host) {
    parseTarget(result.cell(row, "target"), target);
}

// Nothing else holds the schedule now, so no stream thread can be waiting
// for the lock; a stream still open is closed here.
Schedule::~Schedule() {
    closeStream();
}

bool Schedule::run(int dayBit, int64_t now) {
    if (!isDue(repeat, dayBit, startTime, duration, now)) {
        return false;
    }
    Json::Value msg;
    msg["type"] = scheduleType;
    msg["content"] = content;
    msg["duration"] = static_cast<Json::Int64>(duration);
    msg["id"] = scheduleId;
    doScheduleMsg = msg;
    server.queueForTarget(target, "do-schedule", msg, nullptr, 0);
    server.scheduleDatabase().execSql("update schedule set state='running' where scheduleId=?",
                                      {scheduleId});

    Json::Value update;
    update["id"] = scheduleId;
    update["state"] = kStateRunning;
    for (const auto& id : server.managerConnectionIds()) {
        server.sendToConnection(id, "update-schedule-state", update);
    }
    return true;
}

void Schedule::stop() {
    std::lock_guard<std::mutex> lock(streamMutex_);
    streamStopped_ = true;
    closeStream();
}

void Schedule::startStream() {
    if (scheduleType != "audio") {
        return;
    }
    uint64_t generation = generation_.load();
    server.scheduleRegistry().launch(
        [self = shared_from_this(), generation] { startPlayback(self, generation); });
}
