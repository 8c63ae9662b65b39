// Groups of endpoints, kept in step in memory, in table groups and on the
// connections of their members.
#include <algorithm>

#include "server/core/Request.h"
#include "server/core/SonavelServer.h"
#include "server/transport/TcpClient.h"

void SonavelServer::loadGroups() {
    groups_.clear();
    QueryResult result;
    if (!querySql("select * from groups", result)) {
        return;
    }
    for (const auto& row : result.rows) {
        if (row.size() < 3) {
            continue;
        }
        auto group = std::make_shared<_NetGroup>();
        group->groupId = row[0];
        group->groupName = row[1];
        group->members = _NetGroup::parseMembers(row[2]);
        groups_.push_back(group);
    }
}

std::shared_ptr<_NetGroup> SonavelServer::findGroup(const std::string& groupId) const {
    for (const auto& group : groups_) {
        if (group->groupId == groupId) {
            return group;
        }
    }
    return nullptr;
}

bool SonavelServer::groupsOfEndpoint(const std::string& devId,
                                     std::vector<std::string>& out) const {
    out.clear();
    for (const auto& group : groups_) {
        if (group->hasMember(devId)) {
            out.push_back(group->groupId);
        }
    }
    return !out.empty();
}

void SonavelServer::onQueryGroups(const Request& req) {
    Json::Value list(Json::nullValue);
    if (auto manager = findManager(req.connId)) {
        for (const auto& group : groups_) {
            const auto& own = manager->groups;
            if (!manager->isAdmin() &&
                std::find(own.begin(), own.end(), group->groupId) == own.end()) {
                continue;
            }
            Json::Value entry;
            entry["groupId"] = group->groupId;
            entry["groupName"] = group->groupName;
            for (const auto& member : group->members) {
                entry["members"].append(member);
            }
            list.append(entry);
        }
    }
    Json::Value msg;
    msg["groups"] = list;
    sendToAll("response-query-groups", msg, nullptr, 0, kServerId);
}

void SonavelServer::onAddMemberToGroup(const Request& req) {
    const std::string groupId = req.text("groupId");
    addMembers(groupId, req.texts("endpoints"));
}

void SonavelServer::onDelMemberFromGroup(const Request& req) {
    const std::string groupId = req.text("groupId");
    removeMembers(groupId, req.texts("endpoints"));
}

void SonavelServer::onAddGroup(const Request& req) {
    addGroup(req.text("groupId"), req.text("groupName"));
}

void SonavelServer::onDelGroup(const Request& req) {
    deleteGroup(req.text("groupId"));
}

void SonavelServer::onUpdateGroup(const Request& req) {
    if (req.has("groupName")) {
        renameGroup(req.text("groupId"), req.text("groupName"));
    }
}

void SonavelServer::onClearGroups(const Request&) {
    clearGroups();
}

void SonavelServer::addMembers(const std::string& groupId, const std::vector<std::string>& devIds) {
    auto group = findGroup(groupId);
    if (!group) {
        return;
    }
    for (const auto& devId : devIds) {
        group->addMember(devId);
        if (auto conn = findConnection(devId)) {
            addConnectionGroup(conn, groupId);
        }
        if (auto endpoint = findEndpoint(devId, false)) {
            if (std::find(endpoint->groups.begin(), endpoint->groups.end(), groupId) ==
                endpoint->groups.end()) {
                endpoint->groups.push_back(groupId);
            }
        }
    }
    storeMembers(*group);
}

void SonavelServer::removeMembers(const std::string& groupId,
                                  const std::vector<std::string>& devIds) {
    auto group = findGroup(groupId);
    if (!group) {
        return;
    }
    for (const auto& devId : devIds) {
        group->removeMember(devId);
        if (auto conn = findConnection(devId)) {
            removeConnectionGroup(conn, groupId);
        }
        if (auto endpoint = findEndpoint(devId, false)) {
            auto it = std::find(endpoint->groups.begin(), endpoint->groups.end(), groupId);
            if (it != endpoint->groups.end()) {
                endpoint->groups.erase(it);
            }
        }
    }
    storeMembers(*group);
}

void SonavelServer::storeMembers(const _NetGroup& group) {
    execSql("update groups set groupMembers=? where groupId=?",
            {group.membersText(), group.groupId});
}

void SonavelServer::addGroup(const std::string& groupId, const std::string& groupName) {
    if (!execSql("insert into groups(groupId, groupName) values(?, ?)", {groupId, groupName})) {
        return;
    }
    auto group = std::make_shared<_NetGroup>();
    group->groupId = groupId;
    group->groupName = groupName;
    groups_.push_back(group);
}

void SonavelServer::deleteGroup(const std::string& groupId) {
    execSql("delete from groups where groupId=?", {groupId});
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const auto& g) { return g->groupId == groupId; });
    if (it != groups_.end()) {
        groups_.erase(it);
    }
    removeGroupFromConnections(groupId);
}

void SonavelServer::renameGroup(const std::string& groupId, const std::string& groupName) {
    execSql("update groups set groupName=? where groupId=?", {groupName, groupId});
    if (auto group = findGroup(groupId)) {
        group->groupName = groupName;
    }
}

void SonavelServer::clearGroups() {
    if (!execSql("delete from groups")) {
        return;
    }
    clearConnectionGroups();
    groups_.clear();
}
