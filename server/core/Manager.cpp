#include "server/core/Manager.h"

#include <algorithm>

#include "server/transport/TcpClient.h"

bool Manager::canAccess(const TcpClient& conn) const {
    return hasAnyGroup(conn.groups);
}

bool Manager::hasAnyGroup(const std::vector<std::string>& groupIds) const {
    if (isAdmin()) {
        return true;
    }
    return std::any_of(groups.begin(), groups.end(), [&](const std::string& g) {
        return std::find(groupIds.begin(), groupIds.end(), g) != groupIds.end();
    });
}
