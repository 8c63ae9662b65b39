#include "server/schedule/ScheduleTime.h"

#include <cstdio>
#include <ctime>
#include <mutex>

namespace {

// mktime re-reads the zone on every call and the C library guards that with
// a lock of its own, which the thread sanitizer cannot see; one lock of ours
// around every zone conversion of this file keeps the runner and the network
// thread visibly apart.
std::mutex& zoneMutex() {
    static std::mutex m;
    return m;
}

std::tm toTm(const LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = 0;
    return tm;
}

}  // namespace

LocalTime localTimeOf(int64_t secondsSinceEpoch) {
    time_t when = static_cast<time_t>(secondsSinceEpoch);
    std::tm tm{};
    {
        std::lock_guard<std::mutex> lock(zoneMutex());
        localtime_r(&when, &tm);
    }
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.weekday = tm.tm_wday;
    return t;
}

LocalTime SystemWallClock::now() {
    return localTimeOf(static_cast<int64_t>(std::time(nullptr)));
}

std::string formatDateTime(int64_t secondsSinceEpoch) {
    LocalTime t = localTimeOf(secondsSinceEpoch);
    char text[64];
    std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

int64_t epochOf(const LocalTime& t) {
    std::tm tm = toTm(t);
    std::lock_guard<std::mutex> lock(zoneMutex());
    return static_cast<int64_t>(std::mktime(&tm));
}

int64_t parseDateTime(const std::string& text) {
    LocalTime t;
    t.year = t.month = t.day = t.hour = t.minute = t.second = 0;
    std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &t.year, &t.month, &t.day, &t.hour, &t.minute,
                &t.second);
    return epochOf(t);
}

int64_t localNow() {
    return epochOf(SystemWallClock().now());
}

std::string formatTimeOfDay(int64_t s) {
    int64_t hours = s / 3600;
    int64_t minutes = (s - hours * 3600) / 60;
    int64_t seconds = s - (s / 60) * 60;
    char text[80];
    std::snprintf(text, sizeof text, "%lld:%lld:%lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds));
    return text;
}

int64_t parseTimeOfDay(const std::string& text) {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    std::sscanf(text.c_str(), "%d:%d:%d", &hours, &minutes, &seconds);
    return static_cast<int64_t>(hours) * 3600 + static_cast<int64_t>(minutes) * 60 + seconds;
}

int64_t secondsOfDay(const LocalTime& t) {
    return static_cast<int64_t>(t.hour) * 3600 + t.minute * 60 + t.second;
}

int64_t secondsOfDayNow() {
    return secondsOfDay(SystemWallClock().now());
}

int dayBitOf(int weekday) {
    return 1 << (weekday == 0 ? 7 : weekday);
}

int dayBitOf(const LocalTime& t) {
    return dayBitOf(t.weekday);
}

int previousDayBit(int dayBit) {
    return dayBit == 2 ? 128 : dayBit >> 1;
}
