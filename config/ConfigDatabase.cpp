#include "config/ConfigDatabase.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>

#include "common/Md5.h"

bool runSqlOnce(const std::string& dbPath, const std::string& sql,
                const std::vector<std::string>& params, int busyTimeoutMs) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, busyTimeoutMs);
    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && stmt;
    for (size_t i = 0; ok && i < params.size(); ++i) {
        ok = sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i].c_str(),
                               static_cast<int>(params[i].size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    if (ok) {
        int rc = sqlite3_step(stmt);
        ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return ok;
}

std::string defaultAdminDigest() {
    std::string digest = getMd5("907580", 6);
    std::transform(digest.begin(), digest.end(), digest.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return digest;
}

bool resetAdminPassword(const std::string& dbPath, int busyTimeoutMs) {
    return runSqlOnce(dbPath, "replace into account(userName,password,role) values(?,?,?)",
                      {"admin", defaultAdminDigest(), "admin"}, busyTimeoutMs);
}
