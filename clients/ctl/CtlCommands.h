#pragma once
// The subcommands of sonavelctl, one family a file. Each returns the exit
// status: 0 done, 1 failed (one line on standard error). Main thread.

#include <atomic>
#include <string>
#include <vector>

#include "clients/ctl/CtlOptions.h"
#include "clients/ctl/ManagerClient.h"

struct CtlContext {
    ManagerClient& client;
    const CtlOptions& options;
    // options.words without the family name: the action and its arguments.
    std::vector<std::string> args;
};

// Checks the words of a command line before anything is sent; empty when
// they name a known command with enough arguments.
std::string checkCtlCommand(const std::vector<std::string>& words);

int runEndpointCommand(CtlContext& ctx);
int runGroupCommand(CtlContext& ctx);
int runAccountCommand(CtlContext& ctx);
int runUploadCommand(CtlContext& ctx);
int runScheduleCommand(CtlContext& ctx);
int runNoticeCommand(CtlContext& ctx);
int runWatchCommand(CtlContext& ctx, const std::atomic<bool>& stop);

// Text of a JSON member, empty when absent or not text.
std::string jsonText(const Json::Value& object, const char* key);
// The array of a list reply, or an empty array for null (the server sends
// empty lists as null).
Json::Value jsonList(const Json::Value& reply, const char* key);
