#pragma once
// The runner thread: every pass reads the schedule table, starts the rows
// that are due, ends the running rows whose window is over, purges old
// completed rows and expires stop records. start and stop are called by the
// server's own thread; runPass runs on the runner thread (or a test's).

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "server/schedule/ScheduleTime.h"

class ScheduleHost;

class ScheduleRunner {
public:
    static constexpr std::chrono::milliseconds kPassInterval{2000};
    // Completed rows older than this many seconds are deleted.
    static constexpr int64_t kPurgeAge = 604800;

    ScheduleRunner(ScheduleHost& host, WallClock& clock,
                   std::chrono::milliseconds interval = kPassInterval);
    ~ScheduleRunner();
    ScheduleRunner(const ScheduleRunner&) = delete;
    ScheduleRunner& operator=(const ScheduleRunner&) = delete;

    // Starts the thread; its first pass runs at once.
    void start();
    // Wakes the thread, waits for its pass to end and joins it.
    void stop();

    // One pass over the table at the clock's current time.
    void runPass();

private:
    void loop();

    ScheduleHost& host_;
    WallClock& clock_;
    std::chrono::milliseconds interval_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;  // under mutex_
};
