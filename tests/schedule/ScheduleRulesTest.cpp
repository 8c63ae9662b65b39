#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "server/schedule/ScheduleRules.h"
#include "server/schedule/ScheduleTime.h"

namespace {

// Date texts depend on the zone; pin it so the tables mean one thing.
class UtcZone : public testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        oldTz_ = tz ? tz : "";
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", oldTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool hadTz_ = false;
    std::string oldTz_;
};

using ScheduleTimeTest = UtcZone;

TEST_F(ScheduleTimeTest, TimeOfDayBothWays) {
    struct Case {
        const char* text;
        int64_t seconds;
    };
    const Case cases[] = {
        {"8:5:3", 29103}, {"0:0:0", 0}, {"12:34:56", 45296}, {"23:59:59", 86399}, {"8:0:0", 28800},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseTimeOfDay(c.text), c.seconds) << c.text;
        EXPECT_EQ(formatTimeOfDay(c.seconds), c.text) << c.seconds;
    }
}

TEST_F(ScheduleTimeTest, MalformedTimeOfDayCountsMissingFieldsAsZero) {
    EXPECT_EQ(parseTimeOfDay(""), 0);
    EXPECT_EQ(parseTimeOfDay("now"), 0);
    EXPECT_EQ(parseTimeOfDay("7"), 7 * 3600);
    EXPECT_EQ(parseTimeOfDay("7:30"), 7 * 3600 + 30 * 60);
}

TEST_F(ScheduleTimeTest, DateTimeBothWaysInUtc) {
    struct Case {
        const char* text;
        int64_t epoch;
    };
    const Case cases[] = {
        {"2016-3-7 9:5:0", 1457341500},
        {"1970-1-1 0:0:0", 0},
        {"2026-12-11 23:59:59", 1797033599},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseDateTime(c.text), c.epoch) << c.text;
        EXPECT_EQ(formatDateTime(c.epoch), c.text) << c.epoch;
    }
    // Garbage gives a defined value rather than whatever was on the stack.
    EXPECT_EQ(parseDateTime("garbage"), parseDateTime("garbage"));
}

TEST_F(ScheduleTimeTest, LocalNowAndClockReadingsAgree) {
    int64_t before = static_cast<int64_t>(std::time(nullptr));
    int64_t now = localNow();
    int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    LocalTime t = localTimeOf(1457341500);  // Monday 2016-3-7 9:5:0
    EXPECT_EQ(epochOf(t), 1457341500);
    EXPECT_EQ(secondsOfDay(t), 9 * 3600 + 5 * 60);
    EXPECT_EQ(dayBitOf(t), 2);
}

TEST_F(ScheduleTimeTest, DayBitsSundayIs128) {
    const int bits[] = {128, 2, 4, 8, 16, 32, 64};
    for (int weekday = 0; weekday < 7; ++weekday) {
        EXPECT_EQ(dayBitOf(weekday), bits[weekday]) << weekday;
    }
    EXPECT_EQ(previousDayBit(2), 128);
    EXPECT_EQ(previousDayBit(128), 64);
    EXPECT_EQ(previousDayBit(4), 2);
}

TEST(ScheduleRulesTest, DueAndOverTable) {
    struct Case {
        int repeat;
        int dayBit;
        int64_t start;
        int64_t duration;
        int64_t now;
        bool due;
        bool over;
    };
    const int64_t eight = 28800;
    const int64_t half11pm = 23 * 3600 + 30 * 60;
    const Case cases[] = {
        // 8:00:00 for 60 s: due 28800..28859, neither at 28860, over from 28861.
        {2, 2, eight, 60, eight - 1, false, true},
        {2, 2, eight, 60, eight, true, false},
        {2, 2, eight, 60, eight + 59, true, false},
        {2, 2, eight, 60, eight + 60, false, false},
        {2, 2, eight, 60, eight + 61, false, true},
        // Another day's bit, or a mask of the weekly bit alone, is never due.
        {4, 2, eight, 60, eight, false, false},
        {1, 128, eight, 60, eight, false, false},
        {128, 128, eight, 60, eight, true, false},
        // Zero duration or mask: never due.
        {2, 2, eight, 0, eight, false, false},
        {0, 2, eight, 60, eight, false, false},
        // 23:30:00 for an hour: runs over midnight and ends at 00:30:00.
        {2, 2, half11pm, 3600, half11pm + 10, true, false},
        {2, 2, half11pm, 3600, 86399, true, false},
        {2, 4, half11pm, 3600, 0, false, false},
        {2, 4, half11pm, 3600, 1800, false, false},
        {2, 4, half11pm, 3600, 1801, false, true},
        {2, 4, half11pm, 3600, 7200, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start << " duration " << c.duration
                                        << " now " << c.now << " day " << c.dayBit);
        EXPECT_EQ(isDue(c.repeat, c.dayBit, c.start, c.duration, c.now), c.due);
        EXPECT_EQ(isOver(c.start, c.duration, c.now), c.over);
    }
}

TEST(ScheduleRulesTest, WindowAcrossMidnightConsumesTheDayItBegan) {
    const int64_t half11pm = 23 * 3600 + 30 * 60;
    // Ended on Tuesday at 00:30:01: the Monday bit is the one consumed.
    EXPECT_EQ(windowDayBit(4, half11pm, 1801), 2);
    EXPECT_EQ(windowDayBit(2, half11pm, 1801), 128);
    EXPECT_EQ(windowDayBit(2, 28800, 28861), 2);
    EXPECT_EQ(nextState(2, windowDayBit(4, half11pm, 1801)).state, kStateCompleted);
}

TEST(ScheduleRulesTest, NextStateTable) {
    struct Case {
        int repeat;
        int dayBit;
        const char* state;
        int newRepeat;
        bool changed;
    };
    const Case cases[] = {
        {2, 2, kStateCompleted, 2, false},  // Monday only: done after Monday
        {3, 2, kStateReady, 3, false},      // weekly Monday: back to ready
        {6, 2, kStateReady, 4, true},       // Monday and Tuesday: Tuesday left
        {4, 4, kStateCompleted, 4, false},  // ... and done after Tuesday
        {1, 128, kStateReady, 1, false},    // weekly bit alone
        {255, 128, kStateReady, 255, false}, {128, 128, kStateCompleted, 128, false},
        {4, 2, kStateReady, 4, true},  // stopped on a day not in the mask
        {0, 2, kStateCompleted, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "repeat " << c.repeat << " day " << c.dayBit);
        NextState next = nextState(c.repeat, c.dayBit);
        EXPECT_EQ(next.state, c.state);
        EXPECT_EQ(next.repeat, c.newRepeat);
        EXPECT_EQ(next.repeatChanged, c.changed);
    }
}

}  // namespace
