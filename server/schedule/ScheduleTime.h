#pragma once
// Dates, times of day and weekday bits of schedules, all in local time.
// Pure functions and a replaceable wall clock; any thread.
//
// Date-time text: "%d-%d-%d %d:%d:%d" (2016-3-7 9:5:0). Time-of-day text:
// "%d:%d:%d" (8:0:0), held in memory as seconds since local midnight.

#include <cstdint>
#include <string>

inline constexpr int64_t kSecondsPerDay = 86400;

// One reading of the local wall clock, broken down.
struct LocalTime {
    int year = 1970;  // e.g. 2026
    int month = 1;    // 1 to 12
    int day = 1;      // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 Sunday to 6 Saturday
};

// Source of the wall clock; the runner takes one so that tests can set the time.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual LocalTime now() = 0;
};

// The machine's clock.
class SystemWallClock : public WallClock {
public:
    LocalTime now() override;
};

LocalTime localTimeOf(int64_t secondsSinceEpoch);

std::string formatDateTime(int64_t secondsSinceEpoch);
// Missing fields count as 0; daylight saving is taken as not in effect, the
// same convention as localNow, so differences of the two are exact seconds.
int64_t parseDateTime(const std::string& text);
int64_t localNow();
// The seconds-since-epoch value of a clock reading, as parseDateTime converts.
int64_t epochOf(const LocalTime& t);

std::string formatTimeOfDay(int64_t secondsOfDay);
// Missing fields count as 0.
int64_t parseTimeOfDay(const std::string& text);
int64_t secondsOfDayNow();
int64_t secondsOfDay(const LocalTime& t);

// Bit of the weekday in a day mask: Monday 2 ... Saturday 64, Sunday 128.
int dayBitOf(int weekday);
int dayBitOf(const LocalTime& t);
// The bit of the day before: Monday's previous day is Sunday.
int previousDayBit(int dayBit);
