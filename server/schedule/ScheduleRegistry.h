#pragma once
// The running and the stopped schedules, and the threads that open streams.
// Called from the runner thread, the network thread and stream threads.
// runningMutex and stoppedMutex are never held together; a schedule's stream
// is stopped outside runningMutex so that no lock waits on a stream thread.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/MyMutex.h"
#include "server/db/Database.h"
#include "server/schedule/Schedule.h"
#include "server/schedule/StopedSchedule.h"

class ScheduleRegistry {
public:
    explicit ScheduleRegistry(Database& db);
    ~ScheduleRegistry();
    ScheduleRegistry(const ScheduleRegistry&) = delete;
    ScheduleRegistry& operator=(const ScheduleRegistry&) = delete;

    // Stores the next state of the row after a run or a stop, then stops and
    // forgets the schedule if it is running. Returns the new state text.
    std::string finishRun(int dayBit, const std::string& scheduleId, int repeat);
    // Stops and forgets the schedule if it is running; the row is untouched.
    void stopRunning(const std::string& scheduleId);

    // Registers a started schedule; an older entry of the same id is stopped.
    void addRunning(const std::shared_ptr<Schedule>& schedule);
    // Forgets every running schedule of the type (notices: nothing plays).
    void removeRunningOfType(const std::string& scheduleType);
    // Calls fn for each running schedule in id order, under runningMutex;
    // fn must not call back into the registry.
    void forEachRunning(const std::function<void(const Schedule&)>& fn);
    std::vector<std::string> runningIds();

    bool isStopped(const std::string& scheduleId);
    void recordStop(const std::string& scheduleId, int64_t stopTime, int64_t duration);
    // Erases the first record, in id order, whose window has passed.
    void expireOneStopped(int64_t nowT);
    size_t stoppedCount();

    // Runs task on a thread of its own, counted so that stopAll can wait for
    // it. Refused (false) once stopAll has begun.
    bool launch(std::function<void()> task);
    // Server stop: refuses new threads, stops every running stream and waits
    // until every launched thread has ended.
    void stopAll();

private:
    std::shared_ptr<Schedule> takeRunning(const std::string& scheduleId);

    Database& db_;

    MyMutex runningMutex;
    std::map<std::string, std::shared_ptr<Schedule>> runningSchedules;
    MyMutex stoppedMutex;
    std::map<std::string, std::shared_ptr<_StopedSchedule>> stoppedSchedules;

    std::mutex threadsMutex_;
    std::condition_variable threadsDone_;
    int activeThreads_ = 0;
    bool closing_ = false;
};
