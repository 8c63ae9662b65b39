#pragma once
// One background thread, at lowered priority, that runs posted jobs in
// order, so that slow file checks never hold up the network thread. post may be called from any
// thread; the destructor runs the jobs already posted and joins.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class WorkerThread {
public:
    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void post(std::function<void()> job);

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};
