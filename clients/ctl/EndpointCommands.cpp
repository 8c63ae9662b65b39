// endpoints list | remove ID...

#include <iostream>
#include <set>

#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOutput.h"

namespace {

bool fetchEndpoints(CtlContext& ctx, Json::Value& endpoints, std::string& error) {
    Json::Value reply;
    if (!ctx.client.request("query-endpoints", Json::Value(), "response-query-endpoints", reply,
                            error)) {
        return false;
    }
    endpoints = jsonList(reply, "endpoints");
    return true;
}

std::set<std::string> idsOf(const Json::Value& endpoints) {
    std::set<std::string> ids;
    for (const Json::Value& e : endpoints) {
        ids.insert(jsonText(e, "devId"));
    }
    return ids;
}

int list(CtlContext& ctx) {
    Json::Value endpoints;
    std::string error;
    if (!fetchEndpoints(ctx, endpoints, error)) {
        return fail(error);
    }
    if (ctx.options.json) {
        printJson(endpoints);
        return 0;
    }
    TablePrinter table({"DEVICE ID", "NAME", "ONLINE"});
    for (const Json::Value& e : endpoints) {
        const bool online = e.isObject() && e["online"].isBool() && e["online"].asBool();
        table.add({jsonText(e, "devId"), jsonText(e, "devName"), online ? "yes" : "no"});
    }
    table.print("no endpoints");
    return 0;
}

int remove(CtlContext& ctx) {
    Json::Value endpoints;
    std::string error;
    if (!fetchEndpoints(ctx, endpoints, error)) {
        return fail(error);
    }
    const std::set<std::string> known = idsOf(endpoints);
    Json::Value msg;
    msg["endpoints"] = Json::Value(Json::arrayValue);
    for (size_t i = 1; i < ctx.args.size(); ++i) {
        if (!known.count(ctx.args[i])) {
            return fail("no endpoint " + ctx.args[i]);
        }
        msg["endpoints"].append(ctx.args[i]);
    }
    if (!ctx.client.send("remove-endpoints", msg) || !fetchEndpoints(ctx, endpoints, error)) {
        return fail(error.empty() ? "the connection to the server failed" : error);
    }
    const std::set<std::string> left = idsOf(endpoints);
    for (size_t i = 1; i < ctx.args.size(); ++i) {
        if (left.count(ctx.args[i])) {
            return fail("the server kept endpoint " + ctx.args[i] + " (see its log)");
        }
    }
    std::cout << "removed " << (ctx.args.size() - 1) << " endpoint(s)" << std::endl;
    return 0;
}

}  // namespace

int runEndpointCommand(CtlContext& ctx) {
    return ctx.args[0] == "list" ? list(ctx) : remove(ctx);
}
