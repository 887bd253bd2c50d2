#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// The watcher thread: polls the content on disk every cycle (25 ms, Update,
// 1000 ms, shaderWatch, 500 ms). Stoppable so that the process can tear down
// in order: Stop wakes it from its sleeps and joins it; an Update in progress
// finishes first.
class Watcher {
public:
    Watcher() = default;
    ~Watcher() { Stop(); }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    void Start();
    void Stop();

private:
    void Run();
    // Sleeps for `ms`; returns false when asked to stop.
    bool Sleep(int ms);

    std::thread thread;
    std::mutex stopMutex;  // guards stopRequested
    std::condition_variable stopSignal;
    bool stopRequested = false;
};
