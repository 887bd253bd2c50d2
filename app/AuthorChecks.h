#pragma once

#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace caldera {

// Author mode: the content checker (lint/) runs on a thread of its own over
// the production in the working folder, once at start and again for every
// file whose time changes, and prints each problem once, as it appears, in
// demolint's form. Never touches what the player has loaded.
class AuthorChecks {
public:
    AuthorChecks() = default;
    ~AuthorChecks() { Stop(); }
    AuthorChecks(const AuthorChecks&) = delete;
    AuthorChecks& operator=(const AuthorChecks&) = delete;

    void Start();
    // Wakes the thread and joins it; a check in progress finishes first.
    void Stop();

private:
    void Run();
    bool Sleep(int ms);  // false when asked to stop

    std::thread thread;
    std::mutex stopMutex;  // guards stopRequested
    std::condition_variable stopSignal;
    bool stopRequested = false;

    // Checker thread only: the last problems printed, per file.
    std::map<std::string, std::set<std::string>> shown;
};

}  // namespace caldera
