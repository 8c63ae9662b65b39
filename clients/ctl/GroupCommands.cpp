// groups list | add | rename | delete | clear | add-members | remove-members

#include <iostream>

#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOutput.h"

namespace {

bool fetchGroups(CtlContext& ctx, Json::Value& groups, std::string& error) {
    Json::Value reply;
    if (!ctx.client.request("query-groups", Json::Value(), "response-query-groups", reply, error)) {
        return false;
    }
    groups = jsonList(reply, "groups");
    return true;
}

const Json::Value* findGroup(const Json::Value& groups, const std::string& id) {
    for (const Json::Value& g : groups) {
        if (jsonText(g, "groupId") == id) {
            return &g;
        }
    }
    return nullptr;
}

bool hasMember(const Json::Value& group, const std::string& devId) {
    for (const Json::Value& m : jsonList(group, "members")) {
        if (m.isString() && m.asString() == devId) {
            return true;
        }
    }
    return false;
}

std::string joinMembers(const Json::Value& group) {
    std::string out;
    for (const Json::Value& m : jsonList(group, "members")) {
        out += (out.empty() ? "" : ",") + (m.isString() ? m.asString() : "?");
    }
    return out;
}

int list(CtlContext& ctx, const Json::Value& groups) {
    if (ctx.options.json) {
        printJson(groups);
        return 0;
    }
    TablePrinter table({"GROUP ID", "NAME", "MEMBERS"});
    for (const Json::Value& g : groups) {
        table.add({jsonText(g, "groupId"), jsonText(g, "groupName"), joinMembers(g)});
    }
    table.print("no groups");
    return 0;
}

}  // namespace

int runGroupCommand(CtlContext& ctx) {
    const std::string& action = ctx.args[0];
    Json::Value groups;
    std::string error;
    if (!fetchGroups(ctx, groups, error)) {
        return fail(error);
    }
    if (action == "list") {
        return list(ctx, groups);
    }
    const std::string id = ctx.args.size() > 1 ? ctx.args[1] : "";
    const bool exists = findGroup(groups, id) != nullptr;
    Json::Value msg;
    std::string cmd;
    if (action == "add") {
        if (exists) {
            return fail("group " + id + " already exists");
        }
        cmd = "add-group";
        msg["groupId"] = id;
        msg["groupName"] = ctx.args[2];
    } else if (action == "clear") {
        cmd = "clear-groups";
    } else {
        if (!exists) {
            return fail("no group " + id);
        }
        msg["groupId"] = id;
        if (action == "rename") {
            cmd = "update-group";
            msg["groupName"] = ctx.args[2];
        } else if (action == "delete") {
            cmd = "del-group";
        } else {
            cmd = action == "add-members" ? "add-member-to-group" : "del-member-from-group";
            msg["endpoints"] = Json::Value(Json::arrayValue);
            for (size_t i = 2; i < ctx.args.size(); ++i) {
                msg["endpoints"].append(ctx.args[i]);
            }
        }
    }
    if (!ctx.client.send(cmd, msg) || !fetchGroups(ctx, groups, error)) {
        return fail(error.empty() ? "the connection to the server failed" : error);
    }
    // What the server now lists is the proof that the change was made.
    const Json::Value* group = findGroup(groups, id);
    bool done = true;
    std::string said;
    if (action == "add") {
        done = group && jsonText(*group, "groupName") == ctx.args[2];
        said = "group " + id + " added";
    } else if (action == "rename") {
        done = group && jsonText(*group, "groupName") == ctx.args[2];
        said = "group " + id + " renamed to " + ctx.args[2];
    } else if (action == "delete") {
        done = group == nullptr;
        said = "group " + id + " deleted";
    } else if (action == "clear") {
        done = groups.empty();
        said = "all groups deleted";
    } else {
        const bool adding = action == "add-members";
        for (size_t i = 2; i < ctx.args.size() && group; ++i) {
            done = done && hasMember(*group, ctx.args[i]) == adding;
        }
        done = done && group;
        const std::string members = group ? joinMembers(*group) : "";
        said = "group " + id + " members: " + (members.empty() ? "(none)" : members);
    }
    if (!done) {
        return fail("the server did not carry out " + cmd + " (see its log)");
    }
    std::cout << said << std::endl;
    return 0;
}
