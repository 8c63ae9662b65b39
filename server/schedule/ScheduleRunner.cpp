#include "server/schedule/ScheduleRunner.h"

#include <json/json.h>

#include <memory>

#include "server/db/QueryResult.h"
#include "server/schedule/Schedule.h"
#include "server/schedule/ScheduleHost.h"
#include "server/schedule/ScheduleRegistry.h"
#include "server/schedule/ScheduleRules.h"
#include "server/transport/Frame.h"

namespace {

// The logged-in managers, as the server speaks to them.
Target managersTarget(ScheduleHost& host) {
    Target target;
    target.policy = TargetPolicy::ToTarget;
    target.src = kServerId;
    target.dst = host.managerConnectionIds();
    return target;
}

Json::Value idMsg(const std::string& scheduleId) {
    Json::Value msg;
    msg["id"] = scheduleId;
    return msg;
}

}  // namespace

ScheduleRunner::ScheduleRunner(ScheduleHost& host, WallClock& clock,
                               std::chrono::milliseconds interval)
    : host_(host), clock_(clock), interval_(interval) {}

ScheduleRunner::~ScheduleRunner() {
    stop();
}

void ScheduleRunner::start() {
    if (thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this] { loop(); });
}

void ScheduleRunner::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ScheduleRunner::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        runPass();
        lock.lock();
        // Counted after the pass, so passes start every interval plus the pass.
        wake_.wait_for(lock, interval_, [this] { return stopping_; });
    }
}

void ScheduleRunner::runPass() {
    LocalTime t = clock_.now();
    int64_t now = secondsOfDay(t);
    int dayBit = dayBitOf(t);
    int64_t nowT = epochOf(t);

    Database& db = host_.scheduleDatabase();
    ScheduleRegistry& registry = host_.scheduleRegistry();
    QueryResult rows;
    if (!db.querySql("select * from schedule", rows)) {
        return;
    }
    for (long i = 0; i < static_cast<long>(rows.rowCount()); ++i) {
        auto schedule = std::make_shared<Schedule>(rows, i, host_);
        const std::string& id = schedule->scheduleId;
        if (schedule->state == kStateReady) {
            if (!registry.isStopped(id) && schedule->run(dayBit, now)) {
                // Registered before the stream opens, so a stop always finds it.
                registry.addRunning(schedule);
                schedule->startStream();
            }
        } else if (schedule->state == kStateRunning &&
                   isOver(schedule->startTime, schedule->duration, now)) {
            host_.queueForTarget(schedule->target, "stop-schedule", idMsg(id), nullptr, 0);
            std::string newState = registry.finishRun(
                windowDayBit(dayBit, schedule->startTime, now), id, schedule->repeat);
            Json::Value update = idMsg(id);
            update["state"] = newState;
            host_.queueForTarget(managersTarget(host_), "update-schedule-state", update, nullptr,
                                 0);
        } else if (schedule->state == kStateCompleted && nowT - schedule->createTime > kPurgeAge) {
            db.execSql("delete from schedule where scheduleId=?", {id});
            host_.queueForTarget(managersTarget(host_), "response-delete-schedule", idMsg(id),
                                 nullptr, 0);
        }
        registry.expireOneStopped(nowT);
    }
}
