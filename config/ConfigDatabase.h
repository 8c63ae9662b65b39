#pragma once
// The tool's only ways into the server's database file: one statement per
// open, values bound, never pasted into the SQL text. Dialog thread.

#include <string>
#include <vector>

// How long a statement waits for a database that the server holds locked
// before it gives up.
inline constexpr int kBusyTimeoutMs = 3000;

// Opens (creating an empty file when missing), runs sql with params bound
// in order, closes. False when the file cannot be opened or the statement
// fails, the database staying locked past busyTimeoutMs included.
bool runSqlOnce(const std::string& dbPath, const std::string& sql,
                const std::vector<std::string>& params = {}, int busyTimeoutMs = kBusyTimeoutMs);

// The stored digest of the default administrator password: lower-case MD5.
std::string defaultAdminDigest();

// Replaces the "admin" account row with the default password; false when
// the database is missing, has no account table or stays locked.
bool resetAdminPassword(const std::string& dbPath, int busyTimeoutMs = kBusyTimeoutMs);
