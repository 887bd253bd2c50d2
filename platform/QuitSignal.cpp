#include "platform/QuitSignal.h"

#include <atomic>
#include <csignal>

namespace caldera {

namespace {

// Written by the signal handler, on whichever thread the signal lands; read
// by the render loop and the tools' work loops. Only a lock-free atomic may
// be touched from a handler.
std::atomic<int> quitSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnQuitSignal(int signal) {
    int none = 0;
    quitSignal.compare_exchange_strong(none, signal);
}

}  // namespace

void CatchQuitSignals() {
    std::signal(SIGINT, OnQuitSignal);
    std::signal(SIGTERM, OnQuitSignal);
#ifdef SIGHUP
    std::signal(SIGHUP, OnQuitSignal);
#endif
#ifdef SIGBREAK
    std::signal(SIGBREAK, OnQuitSignal);  // Windows: Ctrl+Break, a closed console
#endif
}

bool QuitSignalled() { return quitSignal.load() != 0; }

int QuitSignalNumber() { return quitSignal.load(); }

const char* QuitSignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP: return "SIGHUP";
#endif
#ifdef SIGBREAK
    case SIGBREAK: return "SIGBREAK";
#endif
    default: return "a signal";
    }
}

}  // namespace caldera
