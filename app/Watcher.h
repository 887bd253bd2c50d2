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
    // Asks for a poll at once that reads every content file again, as if
    // each had been saved (ResourceManager::ForgetFileTimes). Any thread.
    void RequestFullReload();

private:
    void Run();
    // Sleeps for `ms`, less when a full reload is asked for; returns false
    // when asked to stop.
    bool Sleep(int ms);

    std::thread thread;
    std::mutex stopMutex;  // guards stopRequested and fullReloadRequested
    std::condition_variable stopSignal;
    bool stopRequested = false;
    bool fullReloadRequested = false;
    // The same request for Update, which looks at it between items without
    // the lock: written by the thread that calls Stop, read by the watcher.
    std::atomic<bool> stopping{false};
};

}  // namespace caldera
