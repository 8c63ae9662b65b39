// Manager accounts; they live only in table account.
#include "server/core/AccountGroups.h"
#include "server/core/Request.h"
#include "server/core/SonavelServer.h"

void SonavelServer::onQueryAccount(const Request& req) {
    Json::Value msg(Json::nullValue);
    QueryResult result;
    if (querySql("select * from account", result) && result.rowCount() > 0) {
        Json::Value accounts(Json::arrayValue);
        for (const auto& row : result.rows) {
            if (row.size() < 4) {
                continue;
            }
            Json::Value entry;
            entry["userName"] = row[0];
            entry["role"] = row[2];
            for (const auto& id : splitAccountGroups(row[3])) {
                entry["groups"].append(id);
            }
            accounts.append(entry);
        }
        msg["accounts"] = accounts;
    }
    sendToConn(req.conn, "response-account", msg);
}

void SonavelServer::onAppendAccount(const Request& req) {
    const std::string userName = req.text("userName");
    const std::string password = req.text("password");
    const std::string role = req.text("role");
    const std::string groups = joinAccountGroups(req.texts("groups"));
    // An existing name makes the insert fail; the update then overwrites it.
    bool success =
        execSql("insert into account values(?, ?, ?, ?)", {userName, password, role, groups}) ||
        execSql("update account set password=?, role=?, groups=? where userName=?",
                {password, role, groups, userName});
    Json::Value msg;
    msg["success"] = success;
    sendToConn(req.conn, "rsp-append-account", msg);
}

void SonavelServer::onRemoveAccount(const Request& req) {
    execSql("delete from account where userName=?", {req.text("userName")});
}

void SonavelServer::onModifyAccount(const Request& req) {
    const std::string userName = req.text("userName");
    const std::string groups = joinAccountGroups(req.texts("groups"));
    execSql("update account set groups=? where userName=?", {groups, userName});
}
