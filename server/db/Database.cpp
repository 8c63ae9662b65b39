#include "server/db/Database.h"

#include <sqlite3.h>

#include <mutex>

#include "common/Logger.h"
#include "common/Md5.h"

namespace {

// The configuration tool may hold the file for a moment; wait for it.
constexpr int kBusyTimeoutMs = 2000;

const char* const kSchema[] = {
    "create table IF NOT EXISTS account(userName text, password text, role text, groups text, "
    "UNIQUE(userName))",
    "create table IF NOT EXISTS settings(password text, extra_json_dict text)",
    "create table IF NOT EXISTS endpoints(devId text, devName text, ipv4 text, mac text, "
    "UNIQUE(devId))",
    "create table IF NOT EXISTS groups(groupId text, groupName text, groupMembers text, "
    "UNIQUE(groupId))",
    "create table IF NOT EXISTS files(fileMd5 text, originalMd5 text, filePath text)",
};

const char* const kScheduleTable =
    "create table schedule(scheduleId text, scheduleType text, content text, description text, "
    "repeat int, createTime text, startTime text, duration BIGINT, state text, target text)";

std::string lowerHex(std::string hex) {
    for (char& c : hex) {
        if (c >= 'A' && c <= 'F') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return hex;
}

bool bindAll(sqlite3_stmt* stmt, const SqlValues& values) {
    int index = 1;
    for (const auto& v : values) {
        int rc;
        if (const auto* text = std::get_if<std::string>(&v)) {
            rc = sqlite3_bind_text(stmt, index, text->data(), static_cast<int>(text->size()),
                                   SQLITE_TRANSIENT);
        } else {
            rc = sqlite3_bind_int64(stmt, index, std::get<int64_t>(v));
        }
        if (rc != SQLITE_OK) {
            return false;
        }
        ++index;
    }
    return true;
}

std::string columnText(sqlite3_stmt* stmt, int col) {
    const auto* text = sqlite3_column_text(stmt, col);
    if (!text) {
        return "";
    }
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<size_t>(sqlite3_column_bytes(stmt, col)));
}

}  // namespace

Database::Database(std::string path) : dbPath_(std::move(path)) {}

bool Database::execSql(const std::string& sql, const SqlValues& values) {
    return run(sql, values, nullptr);
}

bool Database::querySql(const std::string& sql, QueryResult& result, const SqlValues& values) {
    result.clear();
    return run(sql, values, &result);
}

void Database::createSchema() {
    for (const char* statement : kSchema) {
        execSql(statement);
    }
    execSql("insert into account values('admin', ?, 'admin', '')", {lowerHex(getMd5("907580", 6))});
    execSql(kScheduleTable);
}

bool Database::run(const std::string& sql, const SqlValues& values, QueryResult* result) {
    std::lock_guard<MyMutex> lock(dbMutex_);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath_.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);

    sqlite3_stmt* stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) ==
                  SQLITE_OK &&
              stmt != nullptr;
    if (ok && !bindAll(stmt, values)) {
        ok = false;
    }
    while (ok) {
        int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc != SQLITE_ROW) {
            ok = false;
            break;
        }
        if (!result) {
            continue;
        }
        int count = sqlite3_column_count(stmt);
        // Names come with the first row only, as callers expect.
        if (result->rows.empty()) {
            for (int c = 0; c < count; ++c) {
                result->columns.emplace_back(sqlite3_column_name(stmt, c));
            }
        }
        std::vector<std::string> row;
        row.reserve(static_cast<size_t>(count));
        for (int c = 0; c < count; ++c) {
            row.push_back(columnText(stmt, c));
        }
        result->rows.push_back(std::move(row));
    }
    if (!ok) {
        gLogger().logout("exec sql failed: %s, %s", sql.c_str(), sqlite3_errmsg(db));
        if (result) {
            result->clear();
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return ok;
}
