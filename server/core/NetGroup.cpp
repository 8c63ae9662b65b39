#include "server/core/NetGroup.h"

#include <algorithm>

#include "server/core/JsonText.h"

bool _NetGroup::hasMember(const std::string& devId) const {
    return std::find(members.begin(), members.end(), devId) != members.end();
}

bool _NetGroup::addMember(const std::string& devId) {
    if (hasMember(devId)) {
        return false;
    }
    members.push_back(devId);
    return true;
}

bool _NetGroup::removeMember(const std::string& devId) {
    auto it = std::find(members.begin(), members.end(), devId);
    if (it == members.end()) {
        return false;
    }
    members.erase(it);
    return true;
}

std::string _NetGroup::membersText() const {
    Json::Value list(Json::nullValue);
    for (const auto& id : members) {
        list.append(id);
    }
    return compactJson(list);
}

std::vector<std::string> _NetGroup::parseMembers(const std::string& text) {
    std::vector<std::string> out;
    Json::Value root;
    if (!parseStoredJson(text, root) || !root.isArray()) {
        return out;
    }
    for (const auto& element : root) {
        if (!element.isArray() && !element.isObject()) {
            out.push_back(element.asString());
        }
    }
    return out;
}
