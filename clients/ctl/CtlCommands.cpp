#include "clients/ctl/CtlCommands.h"

#include <map>

namespace {

struct Shape {
    size_t minArgs;  // words after the family name, the action included
    bool anyCount;
};

const std::map<std::string, std::map<std::string, Shape>> kCommands = {
    {"endpoints", {{"list", {1, false}}, {"remove", {2, true}}}},
    {"groups",
     {{"list", {1, false}},
      {"add", {3, false}},
      {"rename", {3, false}},
      {"delete", {2, false}},
      {"clear", {1, false}},
      {"add-members", {3, true}},
      {"remove-members", {3, true}}}},
    {"accounts",
     {{"list", {1, false}},
      {"add", {2, false}},
      {"remove", {2, false}},
      {"set-groups", {2, true}}}},
    {"schedules",
     {{"add", {1, false}}, {"list", {1, false}}, {"stop", {2, false}}, {"delete", {2, false}}}},
    {"notices", {{"show", {1, false}}, {"stop", {1, false}}}},
};

}  // namespace

std::string checkCtlCommand(const std::vector<std::string>& words) {
    if (words.empty()) {
        return "no command given";
    }
    const std::string& family = words[0];
    if (family == "watch") {
        return words.size() == 1 ? "" : "watch takes no arguments";
    }
    if (family == "upload") {
        return words.size() == 2 ? "" : "upload needs exactly one file";
    }
    const auto f = kCommands.find(family);
    if (f == kCommands.end()) {
        return "unknown command: " + family;
    }
    if (words.size() < 2) {
        return family + " needs an action";
    }
    const auto a = f->second.find(words[1]);
    if (a == f->second.end()) {
        return "unknown action: " + family + " " + words[1];
    }
    const size_t n = words.size() - 1;
    if (n < a->second.minArgs || (!a->second.anyCount && n > a->second.minArgs)) {
        return "wrong number of arguments for " + family + " " + words[1];
    }
    return "";
}

std::string jsonText(const Json::Value& object, const char* key) {
    if (!object.isObject() || !object[key].isString()) {
        return "";
    }
    return object[key].asString();
}

Json::Value jsonList(const Json::Value& reply, const char* key) {
    if (reply.isObject() && reply[key].isArray()) {
        return reply[key];
    }
    return Json::Value(Json::arrayValue);
}
