#pragma once
// The one way to the database file. Each call opens the file, runs one
// statement and closes it again, under one mutex; any thread may call.
//
// Values never enter the statement text: each '?' in the statement is bound
// to the next value of the list, so quotes or any other bytes are stored and
// read back exactly and cannot change what the statement does.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/MyMutex.h"
#include "server/db/QueryResult.h"

using SqlValue = std::variant<std::string, int64_t>;
using SqlValues = std::vector<SqlValue>;

class Database {
public:
    explicit Database(std::string path);

    const std::string& path() const { return dbPath_; }

    // Runs a statement that returns no rows. False when the file cannot be
    // opened (silently) or the statement fails (logged).
    bool execSql(const std::string& sql, const SqlValues& values = {});
    // Runs a select and replaces the contents of result with its rows.
    bool querySql(const std::string& sql, QueryResult& result, const SqlValues& values = {});

    // The schema statements, in order; results are ignored, so a second
    // start logs the two that fail by design.
    void createSchema();

private:
    bool run(const std::string& sql, const SqlValues& values, QueryResult* result);

    std::string dbPath_;
    MyMutex dbMutex_;
};
