#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace caldera {

// The watcher thread: polls the content on disk every cycle (25 ms, Update,
// 1000 ms, shaderWatch, 500 ms). Stoppable so that the process can tear down
// in order: Stop wakes it from its sleeps, and an Update in progress returns
// after the item it is loading, then Stop joins it.
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
    // The same request for Update, which looks at it between items without
    // the lock: written by the thread that calls Stop, read by the watcher.
    std::atomic<bool> stopping{false};
};

}  // namespace caldera
