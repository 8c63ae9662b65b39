#pragma once
// A schedule a manager stopped, kept so that the runner does not start it
// again inside the same window. Written on the network thread, read and
// expired on the runner thread, always under the registry's stoppedMutex.

#include <cstdint>
#include <string>

struct _StopedSchedule {
    std::string scheduleId;
    int64_t stopTime = 0;  // localNow() at the stop
    int64_t duration = 0;  // the schedule's duration
};
