// accounts list | add USER --role R [--groups G,...] | remove USER | set-groups USER [G,...]

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "clients/common/PasswordDigest.h"
#include "clients/ctl/CtlCommands.h"
#include "clients/ctl/CtlOutput.h"
#include "common/TextUtil.h"

namespace {

bool fetchAccounts(CtlContext& ctx, Json::Value& accounts, std::string& error) {
    Json::Value reply;
    if (!ctx.client.request("query-account", Json::Value(), "response-account", reply, error)) {
        return false;
    }
    accounts = jsonList(reply, "accounts");
    return true;
}

const Json::Value* findAccount(const Json::Value& accounts, const std::string& user) {
    for (const Json::Value& a : accounts) {
        if (jsonText(a, "userName") == user) {
            return &a;
        }
    }
    return nullptr;
}

std::string joinGroups(const Json::Value& account) {
    std::string out;
    for (const Json::Value& g : jsonList(account, "groups")) {
        out += (out.empty() ? "" : ",") + (g.isString() ? g.asString() : "?");
    }
    return out;
}

// Group ids from words that may each hold several, separated by commas.
Json::Value groupList(const std::vector<std::string>& words) {
    Json::Value groups(Json::arrayValue);
    for (const std::string& w : words) {
        std::vector<std::string> ids;
        for (const std::string& id : strSplit(w, ',', ids)) {
            groups.append(id);
        }
    }
    return groups;
}

bool readNewPassword(const CtlOptions& o, std::string& password, std::string& error) {
    if (o.has("account-password-file")) {
        std::ifstream in(o.value("account-password-file"));
        if (!in || !std::getline(in, password)) {
            error = "cannot read " + o.value("account-password-file");
            return false;
        }
        if (!password.empty() && password.back() == '\r') {
            password.pop_back();
        }
        return true;
    }
    if (const char* env = std::getenv("SONAVEL_ACCOUNT_PASSWORD")) {
        password = env;
        return true;
    }
    error =
        "no password for the account: give --account-password-file F or set "
        "SONAVEL_ACCOUNT_PASSWORD";
    return false;
}

int list(CtlContext& ctx, const Json::Value& accounts) {
    if (ctx.options.json) {
        printJson(accounts);
        return 0;
    }
    TablePrinter table({"USER", "ROLE", "GROUPS"});
    for (const Json::Value& a : accounts) {
        table.add({jsonText(a, "userName"), jsonText(a, "role"), joinGroups(a)});
    }
    table.print("no accounts");
    return 0;
}

int add(CtlContext& ctx, const std::string& user) {
    const CtlOptions& o = ctx.options;
    if (!o.has("role")) {
        return fail("accounts add needs --role (admin, or any other role)");
    }
    std::string password;
    std::string error;
    if (!readNewPassword(o, password, error)) {
        return fail(error);
    }
    Json::Value msg;
    msg["userName"] = user;
    msg["password"] = passwordDigest(password);
    msg["role"] = o.value("role");
    msg["groups"] = groupList({o.value("groups")});
    Json::Value reply;
    if (!ctx.client.request("append-account", msg, "rsp-append-account", reply, error)) {
        return fail(error);
    }
    if (!reply.isObject() || !reply["success"].isBool() || !reply["success"].asBool()) {
        return fail("the server did not save account " + user + " (see its log)");
    }
    std::cout << "account " << user << " saved" << std::endl;
    return 0;
}

}  // namespace

int runAccountCommand(CtlContext& ctx) {
    const std::string& action = ctx.args[0];
    const std::string user = ctx.args.size() > 1 ? ctx.args[1] : "";
    if (action == "add") {
        return add(ctx, user);
    }
    Json::Value accounts;
    std::string error;
    if (!fetchAccounts(ctx, accounts, error)) {
        return fail(error);
    }
    if (action == "list") {
        return list(ctx, accounts);
    }
    if (!findAccount(accounts, user)) {
        return fail("no account " + user);
    }
    Json::Value msg;
    msg["userName"] = user;
    const bool removing = action == "remove";
    if (!removing) {
        msg["groups"] = groupList({ctx.args.begin() + 2, ctx.args.end()});
    }
    if (!ctx.client.send(removing ? "remove-account" : "modify-account", msg) ||
        !fetchAccounts(ctx, accounts, error)) {
        return fail(error.empty() ? "the connection to the server failed" : error);
    }
    const Json::Value* account = findAccount(accounts, user);
    if (removing) {
        if (account) {
            return fail("the server kept account " + user + " (see its log)");
        }
        std::cout << "account " << user << " removed" << std::endl;
        return 0;
    }
    if (!account) {
        return fail("account " + user + " is gone");
    }
    std::cout << "account " << user << " groups: " << joinGroups(*account) << std::endl;
    return 0;
}
