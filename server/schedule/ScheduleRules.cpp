#include "server/schedule/ScheduleRules.h"

#include "server/schedule/ScheduleTime.h"

bool isDue(int repeat, int dayBit, int64_t startTime, int64_t duration, int64_t now) {
    return (repeat & dayBit) != 0 && startTime <= now && now - startTime < duration;
}

bool isOver(int64_t startTime, int64_t duration, int64_t now) {
    int64_t elapsed = ((now - startTime) % kSecondsPerDay + kSecondsPerDay) % kSecondsPerDay;
    return elapsed > duration;
}

int windowDayBit(int dayBit, int64_t startTime, int64_t now) {
    return now < startTime ? previousDayBit(dayBit) : dayBit;
}

NextState nextState(int repeat, int dayBit) {
    NextState next;
    next.repeat = repeat;
    if ((repeat & kRepeatWeekly) != 0) {
        next.state = kStateReady;
    } else if ((repeat & ~dayBit) != 0) {
        next.state = kStateReady;
        next.repeat = repeat & ~dayBit;
        next.repeatChanged = true;
    } else {
        next.state = kStateCompleted;
    }
    return next;
}
