#include "tests/schedule/FakeScheduleHost.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

FakeScheduleHost::FakeScheduleHost() : db_(dir_.file("sonavel.db")), registry_(db_) {
    std::filesystem::create_directories(dir_.file("Files"));
    db_.createSchema();
}

FakeScheduleHost::~FakeScheduleHost() {
    registry_.stopAll();
}

void FakeScheduleHost::queueForTarget(const Target& target, const std::string& cmd,
                                      const Json::Value& msg, const uint8_t*, size_t length) {
    SentFrame frame;
    frame.queued = true;
    frame.target = target;
    frame.cmd = cmd;
    frame.msg = msg;
    frame.length = length;
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(std::move(frame));
    sent_.notify_all();
}

void FakeScheduleHost::sendToConnection(const std::string& connectionId, const std::string& cmd,
                                        const Json::Value& msg) {
    SentFrame frame;
    frame.connectionId = connectionId;
    frame.cmd = cmd;
    frame.msg = msg;
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(std::move(frame));
    sent_.notify_all();
}

std::vector<std::string> FakeScheduleHost::managerConnectionIds() {
    std::lock_guard<std::mutex> lock(mutex_);
    return managers_;
}

void FakeScheduleHost::setManagers(std::vector<std::string> ids) {
    std::lock_guard<std::mutex> lock(mutex_);
    managers_ = std::move(ids);
}

std::vector<SentFrame> FakeScheduleHost::take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<SentFrame> out;
    out.swap(frames_);
    return out;
}

bool FakeScheduleHost::waitFor(const std::string& cmd, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return sent_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        for (const auto& f : frames_) {
            if (f.cmd == cmd) {
                return true;
            }
        }
        return false;
    });
}

void FakeScheduleHost::addRow(const std::string& id, const std::string& type,
                              const std::string& content, int repeat, const std::string& createTime,
                              const std::string& startTime, int64_t duration,
                              const std::string& state, const std::string& target) {
    db_.execSql("insert into schedule values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                {id, type, content, std::string("desc"), static_cast<int64_t>(repeat), createTime,
                 startTime, duration, state, target});
}

std::string FakeScheduleHost::stateOf(const std::string& id) {
    QueryResult r;
    db_.querySql("select * from schedule where scheduleId=?", r, {id});
    return r.cell(0, "state");
}

int FakeScheduleHost::repeatOf(const std::string& id) {
    QueryResult r;
    db_.querySql("select * from schedule where scheduleId=?", r, {id});
    return std::atoi(r.cell(0, "repeat").c_str());
}

LocalTime FakeClock::now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void FakeClock::set(const LocalTime& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ = t;
}

void FakeClock::setMonday(int64_t s) {
    LocalTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 7;
    t.weekday = 1;
    t.hour = static_cast<int>(s / 3600);
    t.minute = static_cast<int>(s / 60 % 60);
    t.second = static_cast<int>(s % 60);
    set(t);
}

void FakeClock::setTuesday(int64_t s) {
    setMonday(s);
    LocalTime t = now();
    t.day = 8;
    t.weekday = 2;
    set(t);
}

void FakeClock::setEpoch(int64_t secondsSinceEpoch) {
    set(localTimeOf(secondsSinceEpoch));
}
