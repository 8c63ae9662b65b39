// The schedule commands of managers, and late endpoints joining the
// schedules already running. Network thread.

#include <json/json.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "server/core/JsonText.h"
#include "server/core/Request.h"
#include "server/core/SonavelServer.h"
#include "server/schedule/Schedule.h"
#include "server/schedule/ScheduleRules.h"
#include "server/schedule/ScheduleTime.h"

namespace {

Json::Value listedSchedule(const QueryResult& rows, long i) {
    Json::Value entry;
    entry["id"] = rows.cell(i, "scheduleId");
    entry["type"] = rows.cell(i, "scheduleType");
    entry["desc"] = rows.cell(i, "description");
    entry["createTime"] = rows.cell(i, "createTime");
    entry["startTime"] = rows.cell(i, "startTime");
    entry["duration"] = static_cast<Json::Int64>(std::atoll(rows.cell(i, "duration").c_str()));
    entry["repeat"] = std::atoi(rows.cell(i, "repeat").c_str());
    entry["state"] = rows.cell(i, "state");
    entry["dest"] = rows.cell(i, "target");
    return entry;
}

}  // namespace

void SonavelServer::queueForTarget(const Target& target, const std::string& cmd,
                                   const Json::Value& msg, const uint8_t* binary, size_t length) {
    postToTarget(target, cmd, msg, binary, static_cast<int32_t>(length));
}

void SonavelServer::sendToConnection(const std::string& connectionId, const std::string& cmd,
                                     const Json::Value& msg) {
    sendToOne(connectionId, cmd, msg, nullptr, 0, kServerId);
}

void SonavelServer::onAddSchedule(const Request& req) {
    const std::string id = req.text("id");
    const std::string type = req.text("type");
    const std::string createTime = formatDateTime(static_cast<int64_t>(std::time(nullptr)));
    std::string startTime = req.text("startTime");
    if (startTime == "now") {
        startTime = formatTimeOfDay(secondsOfDayNow());
    }
    int64_t duration = type == "shutdown" ? 8 : req.int64("duration");
    const std::string dest = req.text("dest");
    const std::string desc = req.text("desc");
    const std::string content = compactJson(req.value("content"));
    const int repeat = static_cast<int>(req.int64("repeat"));

    if (!execSql("insert into schedule values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                 {id, type, content, desc, static_cast<int64_t>(repeat), createTime, startTime,
                  duration, std::string(kStateReady), dest})) {
        return;
    }
    LocalTime now = SystemWallClock().now();
    // The row is stored "ready"; the runner starts it within its next pass.
    bool inWindow =
        isDue(repeat, dayBitOf(now), parseTimeOfDay(startTime), duration, secondsOfDay(now));
    Json::Value reply;
    reply["id"] = id;
    reply["type"] = type;
    reply["desc"] = desc;
    reply["createTime"] = createTime;
    reply["startTime"] = startTime;
    reply["duration"] = static_cast<Json::Int64>(duration);
    reply["repeat"] = repeat;
    reply["dest"] = dest;
    reply["state"] = inWindow ? kStateRunning : kStateReady;
    sendToConnection(req.connId, "response-add-schedule", reply);
}

void SonavelServer::onQuerySchedule(const Request& req) {
    QueryResult rows;
    bool ok = req.has("type") ? querySql("select * from schedule where scheduleType=?", rows,
                                         {req.text("type")})
                              : querySql("select * from schedule", rows);
    if (!ok || rows.rowCount() == 0) {
        return;
    }
    Json::Value list(Json::arrayValue);
    for (long i = 0; i < static_cast<long>(rows.rowCount()); ++i) {
        list.append(listedSchedule(rows, i));
    }
    Json::Value reply;
    reply["schedules"] = list;
    sendToConnection(req.connId, "response-query-schedule", reply);
}

void SonavelServer::onDeleteSchedule(const Request& req) {
    const std::string id = req.text("id");
    execSql("delete from schedule where scheduleId=?", {id});
    sendToAll("stop-schedule", req.msg(), nullptr, 0, kServerId);
    sendToConnection(req.connId, "response-delete-schedule", req.msg());
    schedules_.stopRunning(id);
}

void SonavelServer::onStopSchedule(const Request& req) {
    const std::string id = req.text("id");
    QueryResult rows;
    if (querySql("select * from schedule where scheduleId=?", rows, {id}) && rows.rowCount() > 0) {
        Schedule schedule(rows, 0, *this);
        LocalTime now = SystemWallClock().now();
        int dayBit = dayBitOf(now);
        // A window still running past midnight uses up the day it began on.
        if (schedule.state == kStateRunning) {
            dayBit = windowDayBit(dayBit, schedule.startTime, secondsOfDay(now));
        }
        std::string newState = schedules_.finishRun(dayBit, schedule.scheduleId, schedule.repeat);
        schedules_.recordStop(schedule.scheduleId, localNow(), schedule.duration);
        Json::Value update;
        update["id"] = id;
        update["state"] = newState;
        sendToAll("update-schedule-state", update, nullptr, 0, kServerId);
    }
    sendToAll("stop-schedule", req.msg(), nullptr, 0, kServerId);
    schedules_.stopRunning(id);
}

void SonavelServer::onStopNotice(const Request& req) {
    execSql("delete from schedule where scheduleType='notice'");
    schedules_.removeRunningOfType("notice");
    sendToAll("stop-notice", Json::Value(), nullptr, 0, req.connId);
}

void SonavelServer::onQueryNotice(const Request& req) {
    QueryResult rows;
    if (!querySql("select * from schedule where scheduleType='notice'", rows) ||
        rows.rowCount() == 0) {
        return;
    }
    Json::Value content;
    if (!parseStoredJson(rows.cell(0, "content"), content)) {
        return;
    }
    sendToConnection(req.connId, "response-query-notice", content);
}

bool SonavelServer::targetMatches(const Target& target, const std::string& endpointId) const {
    switch (target.policy) {
        case ToAll:
            return true;
        case ToTarget:
            return std::find(target.dst.begin(), target.dst.end(), endpointId) != target.dst.end();
        case ToGroup: {
            std::vector<std::string> groups;
            if (!groupsOfEndpoint(endpointId, groups)) {
                return false;
            }
            for (const auto& group : groups) {
                if (std::find(target.dst.begin(), target.dst.end(), group) != target.dst.end()) {
                    return true;
                }
            }
            return false;
        }
    }
    return false;
}

void SonavelServer::joinRunningSchedules(const std::string& endpointId) {
    schedules_.forEachRunning([&](const Schedule& schedule) {
        if (targetMatches(schedule.target, endpointId)) {
            sendToOne(endpointId, "do-schedule", schedule.doScheduleMsg, nullptr, 0, kServerId);
        }
    });
}
