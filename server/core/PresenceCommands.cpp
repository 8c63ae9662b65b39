// Log-ins, presence notices and the relay of endpoint data to managers.
#include <algorithm>
#include <mutex>

#include "common/Logger.h"
#include "server/core/AccountGroups.h"
#include "server/core/Request.h"
#include "server/core/SonavelServer.h"
#include "server/transport/TcpClient.h"

void SonavelServer::onForwardDataToManager(const Request& req) {
    const std::string cmd = req.text("cmd");
    const Json::Value msg = req.value("msg");
    for (const auto& manager : managersCopy()) {
        if (manager->canAccess(*req.conn)) {
            sendToOne(manager->connId, cmd, msg, req.binary, req.length, req.connId);
        }
    }
}

void SonavelServer::onManagerLogin(const Request& req) {
    const std::string password = req.text("password");
    const std::string userName = req.text("userName");
    int code = managerLogin(password, req.conn, userName);
    Json::Value msg;
    msg["err"] = code;
    if (code == 0) {
        if (auto manager = findManager(req.connId)) {
            msg["role"] = manager->role;
        }
    }
    sendToConn(req.conn, "response-manager-login", msg);
    gLogger().logout("manager-login: %s, %d", req.connId.c_str(), code);
}

int SonavelServer::managerLogin(const std::string& password, const std::shared_ptr<TcpClient>& conn,
                                const std::string& userName) {
    QueryResult result;
    if (!querySql("select * from account where userName=?", result, {userName}) ||
        result.rowCount() == 0) {
        return 1;
    }
    const auto row = result.row(0);
    if (row.size() < 4) {
        return 1;
    }
    if (row[1] != password) {
        return 2;
    }
    const std::string connId = conn->id;
    auto manager = findManager(connId);
    std::lock_guard<MyMutex> lock(managersMutex_);
    if (!manager) {
        manager = std::make_shared<Manager>();
        managers_.push_back(manager);
    }
    manager->role = row[2];
    manager->groups = splitAccountGroups(row[3]);
    manager->userName = userName;
    manager->connId = connId;
    manager->conn = conn;
    return 0;
}

void SonavelServer::onManagerLogout(const Request& req) {
    std::lock_guard<MyMutex> lock(managersMutex_);
    auto it = std::find_if(managers_.begin(), managers_.end(),
                           [&](const auto& m) { return m->conn.lock() == req.conn; });
    if (it != managers_.end()) {
        managers_.erase(it);
    }
}

void SonavelServer::onEndpointLogin(const Request& req) {
    endpointLogin(req.conn, req.text("devName"));
}

// Endpoints send it now and then; nothing of it is kept.
void SonavelServer::onUpdateInformation(const Request&) {}

void SonavelServer::endpointLogin(const std::shared_ptr<TcpClient>& conn,
                                  const std::string& devName) {
    const std::string devId = conn->id;
    auto endpoint = findEndpoint(devId, true);
    endpoint->devName = devName;

    QueryResult result;
    if (querySql("select * from endpoints where devId=?", result, {devId}) &&
        result.rowCount() > 0) {
        const auto row = result.row(0);
        if (row.size() > 1 && row[1] != devName) {
            execSql("update endpoints set devName=? where devId=?", {devName, devId});
        }
    } else {
        execSql("insert into endpoints(devId, devName) values(?, ?)", {devId, devName});
    }

    groupsOfEndpoint(devId, endpoint->groups);
    if (!endpoint->groups.empty()) {
        setConnectionGroups(conn, endpoint->groups);
    }

    Json::Value msg;
    msg["devId"] = devId;
    msg["devName"] = devName;
    msg["serverInfo"] = serverInfo();
    sendToOne(devId, "notify-connected", msg, nullptr, 0, kServerId);
    for (const auto& manager : managersCopy()) {
        if (manager->canAccess(*conn)) {
            sendToOne(manager->connId, "notify-connected", msg, nullptr, 0, kServerId);
        }
    }
    gLogger().logout("endpoint logined: %s, %s", devId.c_str(), devName.c_str());
    joinRunningSchedules(devId);
}

void SonavelServer::onDisconnect(const std::shared_ptr<TcpClient>& conn) {
    TcpServer::onDisconnect(conn);
    const std::string connId = conn->id;
    bool wasManager = false;
    {
        std::lock_guard<MyMutex> lock(managersMutex_);
        auto it = std::find_if(managers_.begin(), managers_.end(),
                               [&](const auto& m) { return m->connId == connId; });
        if (it != managers_.end()) {
            managers_.erase(it);
            wasManager = true;
        }
    }
    if (wasManager) {
        gLogger().logout("manager disconnected: %s", connId.c_str());
    } else {
        for (const auto& id : managerConnIds()) {
            sendToOne(id, "notify-disconnected", Json::Value(), nullptr, 0, connId);
        }
        gLogger().logout("endpoint disconnected: %s", connId.c_str());
    }
    auto it = std::find_if(endpoints_.begin(), endpoints_.end(),
                           [&](const auto& e) { return e->devId == connId; });
    if (it != endpoints_.end()) {
        endpoints_.erase(it);
    }
}
