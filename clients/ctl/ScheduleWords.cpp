#include "clients/ctl/ScheduleWords.h"

#include <json/json.h>

#include <array>
#include <charconv>

#include "common/TextUtil.h"
#include "server/transport/Frame.h"

namespace {

struct DayName {
    const char* shortName;
    const char* longName;
    int bit;
};

const std::array<DayName, 7> kDays = {{{"mon", "monday", 2},
                                       {"tue", "tuesday", 4},
                                       {"wed", "wednesday", 8},
                                       {"thu", "thursday", 16},
                                       {"fri", "friday", 32},
                                       {"sat", "saturday", 64},
                                       {"sun", "sunday", 128}}};

std::string compact(const Json::Value& v) {
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    return Json::writeString(b, v);
}

bool toNumber(const std::string& text, int lo, int hi, int& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return !text.empty() && ec == std::errc() && ptr == end && out >= lo && out <= hi;
}

}  // namespace

int dayBitOf(int weekday) {
    return 1 << (weekday == 0 ? 7 : weekday);
}

bool parseDays(const std::string& words, bool weekly, int todayBit, int& mask, std::string& error) {
    std::vector<std::string> pieces;
    mask = 0;
    for (const std::string& w : strSplit(words, ',', pieces)) {
        int bits = 0;
        if (w == "today") {
            bits = todayBit;
        } else if (w == "daily") {
            bits = 0xFE;
        } else if (w == "weekdays") {
            bits = 0x3E;
        } else if (w == "weekend") {
            bits = 0xC0;
        } else {
            for (const DayName& d : kDays) {
                if (w == d.shortName || w == d.longName) {
                    bits = d.bit;
                }
            }
        }
        if (bits == 0) {
            error = "unknown day: " + w + " (use mon ... sun, today, daily, weekdays, weekend)";
            return false;
        }
        mask |= bits;
    }
    if (mask == 0) {
        error = "no day given";
        return false;
    }
    if (weekly) {
        mask |= 1;
    }
    return true;
}

std::string describeDays(int mask) {
    std::string days;
    for (const DayName& d : kDays) {
        if (mask & d.bit) {
            days += (days.empty() ? "" : ",") + std::string(d.shortName);
        }
    }
    return std::string(mask & 1 ? "weekly " : "once ") + (days.empty() ? "-" : days);
}

bool parseTargetWords(const std::string& words, std::string& targetText, std::string& error) {
    Json::Value target(Json::objectValue);
    if (words == "all") {
        target["policy"] = "to-all";
        targetText = compact(target);
        return true;
    }
    const size_t colon = words.find(':');
    const std::string kind = words.substr(0, colon);
    std::vector<std::string> ids;
    if (colon != std::string::npos) {
        strSplit(words.substr(colon + 1), ',', ids);
    }
    if ((kind != "group" && kind != "endpoint") || ids.empty()) {
        error = "bad target: " + words + " (use all, group:ID,... or endpoint:ID,...)";
        return false;
    }
    target["policy"] = kind == "group" ? "to-group" : "to-target";
    target["dst"] = Json::Value(Json::arrayValue);
    for (const std::string& id : ids) {
        target["dst"].append(id);
    }
    targetText = compact(target);
    return true;
}

std::string describeTarget(const std::string& targetText) {
    Json::Value t;
    if (!parseStrictJson(targetText.data(), targetText.data() + targetText.size(), t) ||
        !t.isObject() || !t["policy"].isString()) {
        return targetText;
    }
    const std::string policy = t["policy"].asString();
    if (policy == "to-all") {
        return "all";
    }
    if ((policy != "to-group" && policy != "to-target") || !t["dst"].isArray()) {
        return targetText;
    }
    std::string out = policy == "to-group" ? "group:" : "endpoint:";
    for (Json::ArrayIndex i = 0; i < t["dst"].size(); ++i) {
        out += (i ? "," : "") + (t["dst"][i].isString() ? t["dst"][i].asString() : "?");
    }
    return out;
}

bool parseStartTime(const std::string& text, std::string& out, std::string& error) {
    if (text == "now") {
        out = text;
        return true;
    }
    std::vector<std::string> parts;
    strSplit(text, ':', parts);
    int h = 0, m = 0, s = 0;
    const bool ok = (parts.size() == 2 || parts.size() == 3) &&
                    text.find("::") == std::string::npos && toNumber(parts[0], 0, 23, h) &&
                    toNumber(parts[1], 0, 59, m) &&
                    (parts.size() == 2 || toNumber(parts[2], 0, 59, s));
    if (!ok) {
        error = "bad start time: " + text + " (use now, H:M or H:M:S)";
        return false;
    }
    out = std::to_string(h) + ":" + std::to_string(m) + ":" + std::to_string(s);
    return true;
}
