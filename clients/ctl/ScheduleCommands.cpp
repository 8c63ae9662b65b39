// schedules add | list | stop | delete, notices show | stop

#include <unistd.h>

#include <charconv>
#include <ctime>
#include <iostream>

#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOutput.h"
#include "clients/ctl/ScheduleWords.h"
#include "server/transport/Frame.h"

namespace {

int64_t jsonInt(const Json::Value& object, const char* key) {
    return object.isObject() && object[key].isIntegral() ? object[key].asInt64() : 0;
}

int todayBit() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return dayBitOf(local.tm_wday);
}

std::string newScheduleId() {
    return "ctl-" + std::to_string(std::time(nullptr)) + "-" + std::to_string(getpid());
}

// The content of a new schedule: the file of an audio schedule, else the
// --content JSON, else the --text as {"text": ...}.
bool buildContent(const CtlOptions& o, const std::string& type, Json::Value& content,
                  std::string& error) {
    if (type == "audio") {
        if (!o.has("file")) {
            error = "an audio schedule needs --file NAME (a file uploaded before)";
            return false;
        }
        content["file"] = o.value("file");
        return true;
    }
    if (o.has("content")) {
        const std::string text = o.value("content");
        if (!parseStrictJson(text.data(), text.data() + text.size(), content)) {
            error = "--content is not a JSON object or array: " + text;
            return false;
        }
        return true;
    }
    if (o.has("text")) {
        content["text"] = o.value("text");
        return true;
    }
    if (type == "notice") {
        error = "a notice needs --text TEXT or --content JSON";
        return false;
    }
    return true;
}

bool fetchSchedules(CtlContext& ctx, const Json::Value& query, Json::Value& schedules,
                    std::string& error) {
    Json::Value reply;
    bool found = false;
    if (!ctx.client.requestMaybe("query-schedule", query, "response-query-schedule", reply, found,
                                 error)) {
        return false;
    }
    schedules = found ? jsonList(reply, "schedules") : Json::Value(Json::arrayValue);
    return true;
}

std::vector<std::string> scheduleRow(const Json::Value& s) {
    return {jsonText(s, "id"),
            jsonText(s, "type"),
            jsonText(s, "state"),
            jsonText(s, "startTime"),
            std::to_string(jsonInt(s, "duration")),
            describeDays(static_cast<int>(jsonInt(s, "repeat"))),
            describeTarget(jsonText(s, "dest")),
            jsonText(s, "desc")};
}

const std::vector<std::string> kScheduleHeaders = {"ID",       "TYPE", "STATE",  "START",
                                                   "DURATION", "DAYS", "TARGET", "DESCRIPTION"};

int add(CtlContext& ctx) {
    const CtlOptions& o = ctx.options;
    std::string error;
    const std::string type = o.value("type");
    if (type.empty()) {
        return fail("schedules add needs --type (audio, notice, shutdown or another type)");
    }
    std::string start;
    int mask = 0;
    std::string target;
    Json::Value content;
    if (!parseStartTime(o.value("start", "now"), start, error) ||
        !parseDays(o.value("days", "today"), o.flags.count("weekly") > 0, todayBit(), mask,
                   error) ||
        !parseTargetWords(o.value("target", "all"), target, error) ||
        !buildContent(o, type, content, error)) {
        return fail(error);
    }
    int64_t duration = 0;
    const std::string durationText = o.value("duration", type == "shutdown" ? "8" : "");
    const char* end = durationText.data() + durationText.size();
    auto [ptr, ec] = std::from_chars(durationText.data(), end, duration);
    if (durationText.empty() || ec != std::errc() || ptr != end || duration <= 0 ||
        duration > 86400) {
        return fail("--duration needs a number of seconds from 1 to 86400");
    }
    Json::Value msg;
    msg["id"] = o.value("id", newScheduleId());
    msg["type"] = type;
    msg["startTime"] = start;
    msg["duration"] = Json::Int64(duration);
    msg["dest"] = target;
    msg["desc"] = o.value("desc");
    msg["content"] = content;
    msg["repeat"] = mask;
    Json::Value reply;
    bool found = false;
    if (!ctx.client.requestMaybe("add-schedule", msg, "response-add-schedule", reply, found,
                                 error)) {
        return fail(error);
    }
    if (!found) {
        return fail("the server did not store schedule " + msg["id"].asString() + " (see its log)");
    }
    if (o.json) {
        printJson(reply);
        return 0;
    }
    TablePrinter table(kScheduleHeaders);
    table.add(scheduleRow(reply));
    table.print("");
    return 0;
}

int list(CtlContext& ctx) {
    Json::Value query;
    if (ctx.options.has("type")) {
        query["type"] = ctx.options.value("type");
    }
    Json::Value schedules;
    std::string error;
    if (!fetchSchedules(ctx, query, schedules, error)) {
        return fail(error);
    }
    if (ctx.options.json) {
        printJson(schedules);
        return 0;
    }
    TablePrinter table(kScheduleHeaders);
    for (const Json::Value& s : schedules) {
        table.add(scheduleRow(s));
    }
    table.print("no schedules");
    return 0;
}

int stop(CtlContext& ctx, const std::string& id) {
    Json::Value msg;
    msg["id"] = id;
    if (!ctx.client.send("stop-schedule", msg)) {
        return fail("the connection to the server failed");
    }
    // The server announces the new state of a stored schedule, then the stop
    // itself, to every connection.
    std::string state;
    ClientMessage m;
    std::string error;
    for (;;) {
        if (!ctx.client.waitFor(
                [&](const ClientMessage& x) {
                    return (x.cmd == "update-schedule-state" || x.cmd == "stop-schedule") &&
                           jsonText(x.msg, "id") == id;
                },
                m, error)) {
            return fail(error);
        }
        if (m.cmd == "update-schedule-state") {
            state = jsonText(m.msg, "state");
            continue;
        }
        break;
    }
    if (state.empty()) {
        return fail("no schedule " + id);
    }
    std::cout << "schedule " << id << " stopped, now " << state << std::endl;
    return 0;
}

int remove(CtlContext& ctx, const std::string& id) {
    Json::Value schedules;
    std::string error;
    if (!fetchSchedules(ctx, Json::Value(), schedules, error)) {
        return fail(error);
    }
    bool known = false;
    for (const Json::Value& s : schedules) {
        known = known || jsonText(s, "id") == id;
    }
    if (!known) {
        return fail("no schedule " + id);
    }
    Json::Value msg;
    msg["id"] = id;
    Json::Value reply;
    if (!ctx.client.request("delete-schedule", msg, "response-delete-schedule", reply, error)) {
        return fail(error);
    }
    std::cout << "schedule " << id << " deleted" << std::endl;
    return 0;
}

}  // namespace

int runScheduleCommand(CtlContext& ctx) {
    const std::string& action = ctx.args[0];
    if (action == "add") {
        return add(ctx);
    }
    if (action == "list") {
        return list(ctx);
    }
    return action == "stop" ? stop(ctx, ctx.args[1]) : remove(ctx, ctx.args[1]);
}

int runNoticeCommand(CtlContext& ctx) {
    std::string error;
    if (ctx.args[0] == "stop") {
        if (!ctx.client.send("stop-notice", Json::Value()) || !ctx.client.barrier(error)) {
            return fail(error.empty() ? "the connection to the server failed" : error);
        }
        std::cout << "notices stopped" << std::endl;
        return 0;
    }
    Json::Value notice;
    bool found = false;
    if (!ctx.client.requestMaybe("query-notice", Json::Value(), "response-query-notice", notice,
                                 found, error)) {
        return fail(error);
    }
    if (ctx.options.json) {
        printJson(found ? notice : Json::Value());
    } else if (!found) {
        std::cout << "no notice" << std::endl;
    } else if (notice.isObject() && notice["text"].isString()) {
        std::cout << notice["text"].asString() << std::endl;
    } else {
        Json::StreamWriterBuilder b;
        b["indentation"] = "";
        std::cout << Json::writeString(b, notice) << std::endl;
    }
    return 0;
}
