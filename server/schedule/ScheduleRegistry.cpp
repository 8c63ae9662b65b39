#include "server/schedule/ScheduleRegistry.h"

#include <system_error>
#include <thread>
#include <utility>

#include "common/Logger.h"
#include "server/schedule/ScheduleRules.h"

ScheduleRegistry::ScheduleRegistry(Database& db) : db_(db) {}

ScheduleRegistry::~ScheduleRegistry() {
    stopAll();
}

std::string ScheduleRegistry::finishRun(int dayBit, const std::string& scheduleId, int repeat) {
    NextState next = nextState(repeat, dayBit);
    if (next.repeatChanged) {
        db_.execSql("update schedule set state='ready', repeat=? where scheduleId=?",
                    {static_cast<int64_t>(next.repeat), scheduleId});
    } else if (next.state == kStateReady) {
        db_.execSql("update schedule set state='ready' where scheduleId=?", {scheduleId});
    } else {
        db_.execSql("update schedule set state='completed' where scheduleId=?", {scheduleId});
    }
    stopRunning(scheduleId);
    return next.state;
}

std::shared_ptr<Schedule> ScheduleRegistry::takeRunning(const std::string& scheduleId) {
    std::lock_guard<MyMutex> lock(runningMutex);
    auto it = runningSchedules.find(scheduleId);
    if (it == runningSchedules.end()) {
        return nullptr;
    }
    std::shared_ptr<Schedule> schedule = std::move(it->second);
    runningSchedules.erase(it);
    return schedule;
}

void ScheduleRegistry::stopRunning(const std::string& scheduleId) {
    if (auto schedule = takeRunning(scheduleId)) {
        schedule->stop();
    }
}

void ScheduleRegistry::addRunning(const std::shared_ptr<Schedule>& schedule) {
    std::shared_ptr<Schedule> older;
    {
        std::lock_guard<MyMutex> lock(runningMutex);
        auto& entry = runningSchedules[schedule->scheduleId];
        older = std::move(entry);
        entry = schedule;
    }
    // A replaced schedule would otherwise keep streaming with nobody to stop it.
    if (older) {
        older->stop();
    }
}

void ScheduleRegistry::removeRunningOfType(const std::string& scheduleType) {
    std::vector<std::shared_ptr<Schedule>> removed;
    {
        std::lock_guard<MyMutex> lock(runningMutex);
        for (auto it = runningSchedules.begin(); it != runningSchedules.end();) {
            if (it->second->scheduleType == scheduleType) {
                removed.push_back(std::move(it->second));
                it = runningSchedules.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& schedule : removed) {
        schedule->stop();
    }
}

void ScheduleRegistry::forEachRunning(const std::function<void(const Schedule&)>& fn) {
    std::lock_guard<MyMutex> lock(runningMutex);
    for (const auto& entry : runningSchedules) {
        fn(*entry.second);
    }
}

std::vector<std::string> ScheduleRegistry::runningIds() {
    std::vector<std::string> ids;
    std::lock_guard<MyMutex> lock(runningMutex);
    for (const auto& entry : runningSchedules) {
        ids.push_back(entry.first);
    }
    return ids;
}

bool ScheduleRegistry::isStopped(const std::string& scheduleId) {
    std::lock_guard<MyMutex> lock(stoppedMutex);
    return stoppedSchedules.count(scheduleId) != 0;
}

void ScheduleRegistry::recordStop(const std::string& scheduleId, int64_t stopTime,
                                  int64_t duration) {
    auto record = std::make_shared<_StopedSchedule>();
    record->scheduleId = scheduleId;
    record->stopTime = stopTime;
    record->duration = duration;
    std::lock_guard<MyMutex> lock(stoppedMutex);
    stoppedSchedules[scheduleId] = std::move(record);
}

void ScheduleRegistry::expireOneStopped(int64_t nowT) {
    std::lock_guard<MyMutex> lock(stoppedMutex);
    for (auto it = stoppedSchedules.begin(); it != stoppedSchedules.end(); ++it) {
        if (nowT - it->second->stopTime > it->second->duration) {
            stoppedSchedules.erase(it);
            return;
        }
    }
}

size_t ScheduleRegistry::stoppedCount() {
    std::lock_guard<MyMutex> lock(stoppedMutex);
    return stoppedSchedules.size();
}

bool ScheduleRegistry::launch(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        if (closing_) {
            return false;
        }
        ++activeThreads_;
    }
    try {
        std::thread([this, task = std::move(task)]() mutable {
            task();
            // Whatever the task held (a schedule) goes before the count does,
            // so that nothing of ours runs after stopAll has returned.
            task = nullptr;
            std::lock_guard<std::mutex> lock(threadsMutex_);
            --activeThreads_;
            threadsDone_.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        gLogger().logout("schedule thread not started: %s", e.what());
        std::lock_guard<std::mutex> lock(threadsMutex_);
        --activeThreads_;
        threadsDone_.notify_all();
        return false;
    }
    return true;
}

void ScheduleRegistry::stopAll() {
    {
        std::lock_guard<std::mutex> lock(threadsMutex_);
        closing_ = true;
    }
    std::map<std::string, std::shared_ptr<Schedule>> running;
    {
        std::lock_guard<MyMutex> lock(runningMutex);
        running.swap(runningSchedules);
    }
    for (const auto& entry : running) {
        entry.second->stop();
    }
    std::unique_lock<std::mutex> lock(threadsMutex_);
    threadsDone_.wait(lock, [this] { return activeThreads_ == 0; });
}
