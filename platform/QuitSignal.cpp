#include "platform/QuitSignal.h"

#include <atomic>
#include <csignal>

namespace {

// Written by the signal handler, on whichever thread the signal lands; read
// by the render loop. Only a lock-free atomic may be touched from a handler.
std::atomic<bool> quitSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnQuitSignal(int) { quitSignalled.store(true); }

}  // namespace

void CatchQuitSignals() {
    std::signal(SIGINT, OnQuitSignal);
    std::signal(SIGTERM, OnQuitSignal);
}

bool QuitSignalled() { return quitSignalled.load(); }
