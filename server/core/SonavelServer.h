#pragma once
// The application server: log-ins, presence, endpoints, groups, accounts and
// file upload on top of the message server. Commands and onDisconnect run on
// the network thread; execSql, querySql and managerConnIds may be called from
// any thread.

#include <json/json.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/MyMutex.h"
#include "server/core/CommandHold.h"
#include "server/core/Endpoint.h"
#include "server/core/FileContext.h"
#include "server/core/Manager.h"
#include "server/core/NetGroup.h"
#include "server/core/WorkerThread.h"
#include "server/db/Database.h"
#include "server/host/AppSettings.h"
#include "server/schedule/ScheduleHost.h"
#include "server/schedule/ScheduleRegistry.h"
#include "server/schedule/ScheduleRunner.h"
#include "server/schedule/ScheduleTime.h"
#include "server/transport/TcpServer.h"

class Request;

class SonavelServer : public TcpServer, public ScheduleHost {
public:
    // docDir holds the database and the Files folder; tests pass their own.
    explicit SonavelServer(uint16_t port, const std::string& docDir = getDocDir());
    ~SonavelServer() override;

    // Starts the schedule runner, runs the event loop on the calling thread
    // until stop(), then stops the runner and every stream.
    bool run() override;
    bool onAccept(const std::shared_ptr<TcpClient>& conn,
                  const boost::system::error_code& error) override;
    void onDisconnect(const std::shared_ptr<TcpClient>& conn) override;
    bool onCmd(const std::shared_ptr<TcpClient>& conn, const std::string& connId,
               const std::string& cmd, const Json::Value& msg, const uint8_t* binary,
               int32_t length) override;

    bool execSql(const std::string& sql, const SqlValues& values = {});
    bool querySql(const std::string& sql, QueryResult& result, const SqlValues& values = {});

    // {"version", "httpPort"}, sent with every "notify-connected".
    Json::Value serverInfo() const;
    // Connection ids of the logged-in managers, in list order.
    std::vector<std::string> managerConnIds() const;

    std::shared_ptr<Manager> findManager(const std::string& connId) const;
    std::shared_ptr<_Endpoint> findEndpoint(const std::string& devId, bool create);
    std::shared_ptr<_NetGroup> findGroup(const std::string& groupId) const;
    // Ids of the groups that list devId, in group order; true when any.
    bool groupsOfEndpoint(const std::string& devId, std::vector<std::string>& out) const;
    // True when table files records the key and its file is still there.
    bool findUploadedFile(const std::string& key);

    // Schedules (any thread).
    Database& scheduleDatabase() override { return db_; }
    ScheduleRegistry& scheduleRegistry() override { return schedules_; }
    void queueForTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                        const uint8_t* binary, size_t length) override;
    void sendToConnection(const std::string& connectionId, const std::string& cmd,
                          const Json::Value& msg) override;
    std::vector<std::string> managerConnectionIds() override { return managerConnIds(); }
    std::string filesFolder() override { return filesDir_; }
    // Network thread: does the target reach the endpoint with this id.
    bool targetMatches(const Target& target, const std::string& endpointId) const;
    // Network thread: sends the endpoint the "do-schedule" of every running
    // schedule that targets it.
    void joinRunningSchedules(const std::string& endpointId);

private:
    using Handler = void (SonavelServer::*)(const Request&);
    enum class Access { Open, Manager, Admin };
    struct Command {
        const char* name;
        Handler handler;
        Access access;
    };
    static const Command kCommands[];

    void dispatch(const Request& req);
    bool allowed(const Command& command, const Request& req) const;
    void refuse(const Command& command, const Request& req);
    std::shared_ptr<Manager> managerOf(const std::shared_ptr<TcpClient>& conn) const;
    std::vector<std::shared_ptr<Manager>> managersCopy() const;

    // Log-ins and presence.
    void onForwardDataToManager(const Request& req);
    void onManagerLogin(const Request& req);
    void onManagerLogout(const Request& req);
    void onEndpointLogin(const Request& req);
    void onUpdateInformation(const Request& req);
    int managerLogin(const std::string& password, const std::shared_ptr<TcpClient>& conn,
                     const std::string& userName);
    void endpointLogin(const std::shared_ptr<TcpClient>& conn, const std::string& devName);

    // Endpoints and groups.
    void onQueryEndpoints(const Request& req);
    void onRemoveEndpoints(const Request& req);
    void onQueryGroups(const Request& req);
    void onAddMemberToGroup(const Request& req);
    void onDelMemberFromGroup(const Request& req);
    void onAddGroup(const Request& req);
    void onDelGroup(const Request& req);
    void onUpdateGroup(const Request& req);
    void onClearGroups(const Request& req);
    void loadGroups();
    void addMembers(const std::string& groupId, const std::vector<std::string>& devIds);
    void removeMembers(const std::string& groupId, const std::vector<std::string>& devIds);
    void addGroup(const std::string& groupId, const std::string& groupName);
    void deleteGroup(const std::string& groupId);
    void renameGroup(const std::string& groupId, const std::string& groupName);
    void clearGroups();
    void removeEndpoints(const std::vector<std::string>& devIds);
    void storeMembers(const _NetGroup& group);

    // The group lists of open connections, which deliveries to groups read.
    // Network thread only, like the deliveries themselves.
    void setConnectionGroups(const std::shared_ptr<TcpClient>& conn,
                             const std::vector<std::string>& groupIds);
    void addConnectionGroup(const std::shared_ptr<TcpClient>& conn, const std::string& groupId);
    void removeConnectionGroup(const std::shared_ptr<TcpClient>& conn, const std::string& groupId);
    void removeGroupFromConnections(const std::string& groupId);
    void clearConnectionGroups();

    // Accounts.
    void onQueryAccount(const Request& req);
    void onAppendAccount(const Request& req);
    void onRemoveAccount(const Request& req);
    void onModifyAccount(const Request& req);

    // File upload.
    void onUploadFileStart(const Request& req);
    void onUploadFileData(const Request& req);
    void onUploadFileTerminate(const Request& req);
    void onUploadFileEnd(const Request& req);
    void replyUpload(const std::string& connId, int code);
    void replayHeld(const std::shared_ptr<TcpClient>& conn);

    // Schedules.
    void onAddSchedule(const Request& req);
    void onQuerySchedule(const Request& req);
    void onDeleteSchedule(const Request& req);
    void onStopSchedule(const Request& req);
    void onStopNotice(const Request& req);
    void onQueryNotice(const Request& req);
    void stopSchedules();

    // Every accepted connection that is still alive, for group edits that
    // reach all of them.
    std::vector<std::weak_ptr<TcpClient>> connections_;
    std::vector<std::shared_ptr<_Endpoint>> endpoints_;
    std::vector<std::shared_ptr<_NetGroup>> groups_;
    std::map<std::string, std::shared_ptr<FileContext>> uploads_;
    // The schedule runner reads the managers too, so the list has a lock of its own.
    std::vector<std::shared_ptr<Manager>> managers_;
    mutable MyMutex managersMutex_;
    std::string filesDir_;
    Database db_;
    bool requireLogin_;
    CommandHold held_;
    // The runner goes before the registry, and both before the database.
    ScheduleRegistry schedules_{db_};
    SystemWallClock wallClock_;
    ScheduleRunner runner_{*this, wallClock_};
    // Last, so that it is joined before anything its jobs use goes away.
    WorkerThread checker_;
};
