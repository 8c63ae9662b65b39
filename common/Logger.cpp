#include "common/Logger.h"

#include <sys/time.h>
#include <cstdarg>
#include <ctime>

Logger::Logger(const std::string& path, bool stamp)
    : out_(stdout), ownsFile_(false), stamp_(stamp) {
    if (!path.empty()) {
        if (FILE* f = std::fopen(path.c_str(), "a")) {
            out_ = f;
            ownsFile_ = true;
        }
    }
}

Logger::~Logger() {
    if (ownsFile_) {
        std::fclose(out_);
    }
}

void Logger::logout(const char* fmt, ...) {
    char stampText[48] = "";
    if (stamp_) {
        timeval tv{};
        gettimeofday(&tv, nullptr);
        tm local{};
        localtime_r(&tv.tv_sec, &local);
        size_t n = std::strftime(stampText, sizeof stampText, "%Y-%m-%d %H:%M:%S", &local);
        std::snprintf(stampText + n, sizeof stampText - n, ".%03ld ",
                      static_cast<long>(tv.tv_usec / 1000));
    }
    // Format outside the lock; only the write is serialised.
    char small[512];
    va_list args;
    va_start(args, fmt);
    int len = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    std::string big;
    const char* text = small;
    if (len >= static_cast<int>(sizeof small)) {
        big.resize(static_cast<size_t>(len) + 1);
        va_start(args, fmt);
        std::vsnprintf(big.data(), big.size(), fmt, args);
        va_end(args);
        text = big.c_str();
    } else if (len < 0) {
        text = fmt;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::fprintf(out_, "%s%s\n", stampText, text);
    std::fflush(out_);
}

Logger& gLogger() {
    static Logger logger("", true);
    return logger;
}
