#include "server/transport/Target.h"

#include <json/json.h>

#include "server/transport/Frame.h"

bool parseTarget(const std::string& text, Target& target) {
    target.policy = ToAll;
    Json::Value parsed;
    if (!parseStrictJson(text.data(), text.data() + text.size(), parsed) || !parsed.isObject()) {
        return false;
    }
    const Json::Value& root = parsed;
    const Json::Value& policy = root["policy"];
    const std::string name = policy.isString() ? policy.asString() : std::string();
    if (name == "to-group") {
        target.policy = ToGroup;
    } else if (name == "to-target") {
        target.policy = ToTarget;
    } else {
        return true;
    }
    const Json::Value& dst = root["dst"];
    if (!dst.isArray()) {
        return true;
    }
    for (const Json::Value& id : dst) {
        // Elements that have no text form (arrays, objects) can name no one.
        if (!id.isArray() && !id.isObject()) {
            target.dst.push_back(id.asString());
        }
    }
    return true;
}
