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

bool Watcher::Sleep(int ms) {
    std::unique_lock<std::mutex> lock(stopMutex);
    return !stopSignal.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested; });
}

void Watcher::Run() {
    for (;;) {
        if (!Sleep(25)) return;
        ResourceManager::Instance().Update(stopping);
        if (!Sleep(1000)) return;
        Show::Instance().shaderWatch = true;
        if (!Sleep(500)) return;
    }
}

}  // namespace caldera
