#include "app/Watcher.h"

#include <chrono>

#include "playback/Show.h"
#include "resources/ResourceManager.h"

namespace caldera {

void Watcher::Start() {
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopRequested = false;
    }
    stopping = false;
    thread = std::thread([this] { Run(); });
}

void Watcher::Stop() {
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        stopRequested = true;
    }
    stopping = true;
    stopSignal.notify_all();
    if (thread.joinable()) thread.join();
}

void Watcher::RequestFullReload() {
    {
        std::lock_guard<std::mutex> lock(stopMutex);
        fullReloadRequested = true;
    }
    stopSignal.notify_all();
}

bool Watcher::Sleep(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex);
    stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested || fullReloadRequested; });
    return !stopRequested;
}

void Watcher::Run() {
    ResourceManager& resources = ResourceManager::Instance();
    for (;;) {
        // A full reload cuts the sleeps short, so its poll comes at once.
        if (!Sleep(25)) return;
        bool reloadAll = false;
        {
            std::lock_guard<std::mutex> lock(stopMutex);
            reloadAll = fullReloadRequested;
            fullReloadRequested = false;
        }
        if (reloadAll) resources.ForgetFileTimes();
        resources.Update(stopping);
        if (!Sleep(1000)) return;
        Show::Instance().shaderWatch = true;
        if (!Sleep(500)) return;
    }
}

}  // namespace caldera
