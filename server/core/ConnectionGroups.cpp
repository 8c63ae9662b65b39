// The group ids carried by open connections, kept in step with the groups.
#include <algorithm>

#include "server/core/SonavelServer.h"

bool SonavelServer::onAccept(const std::shared_ptr<TcpClient>& conn,
                             const boost::system::error_code& error) {
    bool listed = TcpServer::onAccept(conn, error);
    if (listed) {
        std::erase_if(connections_, [](const auto& weak) { return weak.expired(); });
        connections_.push_back(conn);
    }
    return listed;
}

void SonavelServer::setConnectionGroups(const std::shared_ptr<TcpClient>& conn,
                                        const std::vector<std::string>& groupIds) {
    conn->groups = groupIds;
}

void SonavelServer::addConnectionGroup(const std::shared_ptr<TcpClient>& conn,
                                       const std::string& groupId) {
    auto& groups = conn->groups;
    if (std::find(groups.begin(), groups.end(), groupId) == groups.end()) {
        groups.push_back(groupId);
    }
}

void SonavelServer::removeConnectionGroup(const std::shared_ptr<TcpClient>& conn,
                                          const std::string& groupId) {
    auto& groups = conn->groups;
    auto it = std::find(groups.begin(), groups.end(), groupId);
    if (it != groups.end()) {
        groups.erase(it);
    }
}

void SonavelServer::removeGroupFromConnections(const std::string& groupId) {
    for (const auto& weak : connections_) {
        if (auto conn = weak.lock()) {
            removeConnectionGroup(conn, groupId);
        }
    }
}

void SonavelServer::clearConnectionGroups() {
    for (const auto& weak : connections_) {
        if (auto conn = weak.lock()) {
            conn->groups.clear();
        }
    }
}
