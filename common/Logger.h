#pragma once
// Process-wide log: one record per line on standard output, stamped with
// local time. Safe to call from any thread.

#include <cstdio>
#include <mutex>
#include <string>

class Logger {
public:
    // An empty path logs to standard output; otherwise records are appended
    // to that file. stamp prefixes each record with the local time.
    Logger(const std::string& path, bool stamp);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void logout(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

private:
    std::mutex mutex_;
    FILE* out_;
    bool ownsFile_;
    bool stamp_;
};

// The one logger of the process.
Logger& gLogger();
