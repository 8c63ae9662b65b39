#pragma once
// One row of the schedule table in memory. Built on the runner thread and on
// the network thread; its stream is started, restarted and stopped from the
// runner, the network thread and the stream's own threads, serialised by
// streamMutex_. Always held through shared pointers.

#include <json/json.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "server/audio/AudioServer.h"
#include "server/db/QueryResult.h"
#include "server/transport/Target.h"

class ScheduleHost;

class Schedule : public std::enable_shared_from_this<Schedule> {
public:
    // Row `row` of a "select * from schedule".
    Schedule(const QueryResult& result, long row, ScheduleHost& server);
    virtual ~Schedule();
    Schedule(const Schedule&) = delete;
    Schedule& operator=(const Schedule&) = delete;

    // When due: tells the target with "do-schedule", marks the row "running"
    // and tells the managers; returns true. Not due: false, nothing done.
    // The caller registers the schedule as running and then calls
    // startStream, so that a stop can always find a playing stream.
    virtual bool run(int dayBit, int64_t now);
    // Ends the stream for good: no later restart starts a new one.
    virtual void stop();

    // Audio schedules: opens the stream on a thread of its own.
    void startStream();

    std::string scheduleId;
    std::string scheduleType;
    int repeat = 0;
    std::string content;
    std::string state;
    int64_t createTime = 0;
    int64_t duration = 0;
    int64_t startTime = 0;
    Target target;
    // The "do-schedule" message of the start, re-sent to late endpoints.
    // Written before the schedule is registered as running.
    Json::Value doScheduleMsg;
    ScheduleHost& server;

private:
    friend void startPlayback(const std::shared_ptr<Schedule>& schedule, uint64_t generation);
    friend void onAudioEvent(AudioEvent event, const uint8_t* data, int length, void* user);

    void closeStream();

    std::mutex streamMutex_;
    bool streamStopped_ = false;  // under streamMutex_
    // Counts the streams opened; a restart asked for by an older stream is
    // dropped. Read by the pacing thread, written under streamMutex_.
    std::atomic<uint64_t> generation_{0};
    std::shared_ptr<AudioServer> audio;  // under streamMutex_
};

// Opens a fresh stream of the schedule's file, replacing the stream of the
// given generation; does nothing once the schedule is stopped or when the
// stream has already been replaced. Runs on a stream thread.
void startPlayback(const std::shared_ptr<Schedule>& schedule, uint64_t generation);

// Event callback of the schedule's AudioServer, on its pacing thread.
void onAudioEvent(AudioEvent event, const uint8_t* data, int length, void* user);
