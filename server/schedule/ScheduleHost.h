#pragma once
// What schedules need from the server that runs them: the database, posting
// and direct sends, the logged-in managers and the Files folder. The server
// core implements it, so that schedules never include the core. Called from
// the runner thread, the network thread and the stream threads; every
// operation must be safe from any thread.

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/db/Database.h"
#include "server/transport/Target.h"

class ScheduleRegistry;

class ScheduleHost {
public:
    virtual ~ScheduleHost() = default;

    virtual Database& scheduleDatabase() = 0;
    virtual ScheduleRegistry& scheduleRegistry() = 0;

    // Queues a frame for the target; the network thread delivers it at its
    // next tick to the connections the target reaches then.
    virtual void queueForTarget(const Target& target, const std::string& cmd,
                                const Json::Value& msg, const uint8_t* binary, size_t length) = 0;
    // Sends a frame with the server id as "src" to the connection registered
    // under connectionId, if there is one.
    virtual void sendToConnection(const std::string& connectionId, const std::string& cmd,
                                  const Json::Value& msg) = 0;

    // Connection ids of the logged-in managers, in the order of the list.
    virtual std::vector<std::string> managerConnectionIds() = 0;

    // Folder of the uploaded files that audio schedules play.
    virtual std::string filesFolder() = 0;
};
