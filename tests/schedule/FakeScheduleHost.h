#pragma once
// A ScheduleHost for tests: a real database in a private folder, and every
// frame the schedules send recorded in order instead of going to sockets.

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "server/schedule/ScheduleHost.h"
#include "server/schedule/ScheduleRegistry.h"
#include "server/schedule/ScheduleTime.h"
#include "tests/support/TempDir.h"

struct SentFrame {
    bool queued = false;       // queueForTarget, else sendToConnection
    Target target;             // queued frames
    std::string connectionId;  // direct frames
    std::string cmd;
    Json::Value msg;
    size_t length = 0;
};

class FakeScheduleHost : public ScheduleHost {
public:
    FakeScheduleHost();
    ~FakeScheduleHost() override;

    Database& scheduleDatabase() override { return db_; }
    ScheduleRegistry& scheduleRegistry() override { return registry_; }
    void queueForTarget(const Target& target, const std::string& cmd, const Json::Value& msg,
                        const uint8_t* binary, size_t length) override;
    void sendToConnection(const std::string& connectionId, const std::string& cmd,
                          const Json::Value& msg) override;
    std::vector<std::string> managerConnectionIds() override;
    std::string filesFolder() override { return dir_.file("Files"); }

    void setManagers(std::vector<std::string> ids);
    // Frames sent so far, and forgets them.
    std::vector<SentFrame> take();
    // Waits until a frame with cmd has been sent, up to timeoutMs.
    bool waitFor(const std::string& cmd, int timeoutMs);

    // Inserts a row as "add-schedule" stores it.
    void addRow(const std::string& id, const std::string& type, const std::string& content,
                int repeat, const std::string& createTime, const std::string& startTime,
                int64_t duration, const std::string& state, const std::string& target);
    // The state and repeat columns of a row, or empty text when it is gone.
    std::string stateOf(const std::string& id);
    int repeatOf(const std::string& id);

    TempDir dir_;

private:
    Database db_;
    ScheduleRegistry registry_;
    std::mutex mutex_;
    std::condition_variable sent_;
    std::vector<SentFrame> frames_;
    std::vector<std::string> managers_;
};

// A wall clock that reads what the test sets.
class FakeClock : public WallClock {
public:
    LocalTime now() override;
    void set(const LocalTime& t);
    // Monday 2026-12-7 at the given seconds of day, or the day after.
    void setMonday(int64_t secondsOfDay);
    void setTuesday(int64_t secondsOfDay);
    void setEpoch(int64_t secondsSinceEpoch);

private:
    std::mutex mutex_;
    LocalTime now_;
};
