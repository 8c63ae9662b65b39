#pragma once
// A plain mutex; satisfies BasicLockable so std::lock_guard works with it.
// Not recursive: taking it twice on one thread is a fault.

#include <mutex>

class MyMutex {
public:
    void lock() { m_.lock(); }
    void unlock() { m_.unlock(); }

private:
    std::mutex m_;
};
