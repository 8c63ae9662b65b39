#pragma once
// When a schedule is due, when its window is over and what state a row takes
// after a run or a stop. Pure functions; any thread.
//
// Day mask ("repeat"): bit 0 (1) repeats every week, bits 1 to 7 (2 to 128)
// are Monday to Sunday.

#include <cstdint>
#include <string>

inline constexpr int kRepeatWeekly = 1;

inline constexpr const char* kStateReady = "ready";
inline constexpr const char* kStateRunning = "running";
inline constexpr const char* kStateCompleted = "completed";

// Due: today's bit is in the mask and startTime <= now < startTime + duration.
bool isDue(int repeat, int dayBit, int64_t startTime, int64_t duration, int64_t now);

// Over: more than duration seconds have passed since the window began. The
// seconds of day restart at midnight, so a window that began yesterday
// evening (now < startTime) is measured across midnight and ends on time.
bool isOver(int64_t startTime, int64_t duration, int64_t now);

// The day bit of the day the window began: yesterday's for a window that has
// crossed midnight, so that the day of the run is the one consumed.
int windowDayBit(int dayBit, int64_t startTime, int64_t now);

struct NextState {
    std::string state;  // "ready" or "completed"
    int repeat = 0;     // the mask to store
    bool repeatChanged = false;
};

// Weekly rows return to "ready"; otherwise today's bit is consumed and the
// row is "ready" while other days remain, else "completed".
NextState nextState(int repeat, int dayBit);
