// Listing and removing endpoints.
#include <algorithm>

#include "server/core/Request.h"
#include "server/core/SonavelServer.h"

void SonavelServer::onQueryEndpoints(const Request& req) {
    Json::Value list(Json::nullValue);
    QueryResult result;
    auto manager = findManager(req.connId);
    if (manager && querySql("select * from endpoints", result)) {
        std::vector<std::string> groupIds;
        for (const auto& row : result.rows) {
            const std::string& devId = row[0];
            bool visible = manager->isAdmin() ||
                           (groupsOfEndpoint(devId, groupIds) && manager->hasAnyGroup(groupIds));
            if (!visible) {
                continue;
            }
            Json::Value entry;
            entry["devId"] = devId;
            entry["devName"] = row.size() > 1 ? row[1] : std::string();
            entry["online"] = isRegistered(devId);
            list.append(entry);
        }
    }
    Json::Value msg;
    msg["endpoints"] = list;
    sendToAll("response-query-endpoints", msg, nullptr, 0, kServerId);
}

void SonavelServer::onRemoveEndpoints(const Request& req) {
    removeEndpoints(req.texts("endpoints"));
}

void SonavelServer::removeEndpoints(const std::vector<std::string>& devIds) {
    auto listed = [&](const std::string& id) {
        return std::find(devIds.begin(), devIds.end(), id) != devIds.end();
    };
    std::erase_if(endpoints_, [&](const auto& e) { return listed(e->devId); });
    for (const auto& devId : devIds) {
        execSql("delete from endpoints where devId=?", {devId});
    }
    // Copied, since removeMembers looks groups up by id.
    std::vector<std::string> groupIds;
    for (const auto& group : groups_) {
        groupIds.push_back(group->groupId);
    }
    for (const auto& groupId : groupIds) {
        removeMembers(groupId, devIds);
    }
}
