#pragma once
// One logged-in management client. Changed on the network thread under the
// server's managers lock; read there and, for its connId, by the schedule runner.

#include <memory>
#include <string>
#include <vector>

class TcpClient;

class Manager {
public:
    virtual ~Manager() = default;

    std::string connId;
    std::string userName;
    std::string role;
    std::vector<std::string> groups;
    // The connection that logged in; ids can be reused, connections cannot.
    std::weak_ptr<TcpClient> conn;

    bool isAdmin() const { return role == "admin"; }
    // An admin sees everything; others see connections in one of their groups.
    bool canAccess(const TcpClient& conn) const;
    bool hasAnyGroup(const std::vector<std::string>& groupIds) const;
};
