#include "server/core/SonavelServer.h"

#include <algorithm>
#include <mutex>

#include "common/Logger.h"
#include "server/core/Request.h"
#include "server/transport/TcpClient.h"

// In the order in which names are compared.
const SonavelServer::Command SonavelServer::kCommands[] = {
    {"forward-data-to-manager", &SonavelServer::onForwardDataToManager, Access::Open},
    {"manager-login", &SonavelServer::onManagerLogin, Access::Open},
    {"manager-logout", &SonavelServer::onManagerLogout, Access::Open},
    {"endpoint-login", &SonavelServer::onEndpointLogin, Access::Open},
    {"update-information", &SonavelServer::onUpdateInformation, Access::Open},
    {"query-endpoints", &SonavelServer::onQueryEndpoints, Access::Manager},
    {"remove-endpoints", &SonavelServer::onRemoveEndpoints, Access::Manager},
    {"query-groups", &SonavelServer::onQueryGroups, Access::Manager},
    {"add-member-to-group", &SonavelServer::onAddMemberToGroup, Access::Manager},
    {"del-member-from-group", &SonavelServer::onDelMemberFromGroup, Access::Manager},
    {"add-group", &SonavelServer::onAddGroup, Access::Manager},
    {"del-group", &SonavelServer::onDelGroup, Access::Manager},
    {"update-group", &SonavelServer::onUpdateGroup, Access::Manager},
    {"clear-groups", &SonavelServer::onClearGroups, Access::Manager},
    {"upload-file-start", &SonavelServer::onUploadFileStart, Access::Manager},
    {"upload-file-data", &SonavelServer::onUploadFileData, Access::Manager},
    {"upload-file-terminate", &SonavelServer::onUploadFileTerminate, Access::Manager},
    {"upload-file-end", &SonavelServer::onUploadFileEnd, Access::Manager},
    {"add-schedule", &SonavelServer::onAddSchedule, Access::Manager},
    {"query-schedule", &SonavelServer::onQuerySchedule, Access::Manager},
    {"delete-schedule", &SonavelServer::onDeleteSchedule, Access::Manager},
    {"stop-notice", &SonavelServer::onStopNotice, Access::Manager},
    {"query-notice", &SonavelServer::onQueryNotice, Access::Manager},
    {"stop-schedule", &SonavelServer::onStopSchedule, Access::Manager},
    {"query-account", &SonavelServer::onQueryAccount, Access::Admin},
    {"append-account", &SonavelServer::onAppendAccount, Access::Admin},
    {"remove-account", &SonavelServer::onRemoveAccount, Access::Admin},
    {"modify-account", &SonavelServer::onModifyAccount, Access::Admin},
};

SonavelServer::SonavelServer(uint16_t port, const std::string& docDir)
    : TcpServer(port),
      filesDir_(docDir + "/Files"),
      db_(docDir + "/sonavel.db"),
      requireLogin_(getRequireLogin()) {
    db_.createSchema();
    loadGroups();
}

// Streams post into the message server and the runner uses the database, so
// both end before any member or the base goes away.
SonavelServer::~SonavelServer() {
    stopSchedules();
}

bool SonavelServer::run() {
    gLogger().logout("sonavel %s listening on port %u", getAppVersion().c_str(),
                     static_cast<unsigned>(localPort()));
    runner_.start();
    bool result = TcpServer::run();
    stopSchedules();
    return result;
}

void SonavelServer::stopSchedules() {
    runner_.stop();
    schedules_.stopAll();
}

bool SonavelServer::onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
                          const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
                          int32_t length) {
    // While an upload check of this connection runs, everything it sends
    // waits, built-in commands included, so that its order is kept.
    if (held_.isHeld(conn)) {
        held_.add(conn, cmd, msg, binary, length);
        return true;
    }
    if (TcpServer::onCmd(conn, connId, cmd, msg, binary, length)) {
        return true;
    }
    dispatch(Request(conn, connId, cmd, msg, binary, length));
    return true;
}

void SonavelServer::dispatch(const Request& req) {
    for (const Command& command : kCommands) {
        if (req.cmd != command.name) {
            continue;
        }
        if (!allowed(command, req)) {
            refuse(command, req);
            return;
        }
        if (command.handler) {
            (this->*command.handler)(req);
            return;
        }
        break;
    }
    gLogger().logout("unhandled cmd: %s", req.cmd.c_str());
}

bool SonavelServer::allowed(const Command& command, const Request& req) const {
    if (!requireLogin_ || command.access == Access::Open) {
        return true;
    }
    auto manager = managerOf(req.conn);
    return manager && (command.access == Access::Manager || manager->isAdmin());
}

void SonavelServer::refuse(const Command& command, const Request& req) {
    gLogger().logout("refused cmd: %s, %s", req.cmd.c_str(), req.connId.c_str());
    // Only replies that can already carry a failure are sent.
    const std::string name = command.name;
    if (name == "append-account") {
        Json::Value msg;
        msg["success"] = false;
        sendToConn(req.conn, "rsp-append-account", msg);
    } else if (name == "upload-file-start" || name == "upload-file-data" ||
               name == "upload-file-end") {
        replyUpload(req.connId, 2);
    }
}

bool SonavelServer::execSql(const std::string& sql, const SqlValues& values) {
    return db_.execSql(sql, values);
}

bool SonavelServer::querySql(const std::string& sql, QueryResult& result, const SqlValues& values) {
    return db_.querySql(sql, result, values);
}

Json::Value SonavelServer::serverInfo() const {
    Json::Value info;
    info["version"] = getAppVersion();
    info["httpPort"] = static_cast<int>(getHttpPort());
    return info;
}

std::vector<std::string> SonavelServer::managerConnIds() const {
    std::lock_guard<MyMutex> lock(managersMutex_);
    std::vector<std::string> ids;
    ids.reserve(managers_.size());
    for (const auto& manager : managers_) {
        ids.push_back(manager->connId);
    }
    return ids;
}

std::vector<std::shared_ptr<Manager>> SonavelServer::managersCopy() const {
    std::lock_guard<MyMutex> lock(managersMutex_);
    return managers_;
}

std::shared_ptr<Manager> SonavelServer::findManager(const std::string& connId) const {
    std::lock_guard<MyMutex> lock(managersMutex_);
    for (const auto& manager : managers_) {
        if (manager->connId == connId) {
            return manager;
        }
    }
    return nullptr;
}

std::shared_ptr<Manager> SonavelServer::managerOf(const std::shared_ptr<TcpClient>& conn) const {
    std::lock_guard<MyMutex> lock(managersMutex_);
    for (const auto& manager : managers_) {
        if (manager->conn.lock() == conn) {
            return manager;
        }
    }
    return nullptr;
}

std::shared_ptr<_Endpoint> SonavelServer::findEndpoint(const std::string& devId, bool create) {
    for (const auto& endpoint : endpoints_) {
        if (endpoint->devId == devId) {
            return endpoint;
        }
    }
    if (!create) {
        return nullptr;
    }
    auto endpoint = std::make_shared<_Endpoint>();
    endpoint->devId = devId;
    endpoints_.push_back(endpoint);
    return endpoint;
}
