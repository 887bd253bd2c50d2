#include "platform/Log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
#ifdef _WIN32
void LockStdout() { _lock_file(stdout); }
void UnlockStdout() { _unlock_file(stdout); }
#else
void LockStdout() { flockfile(stdout); }
void UnlockStdout() { funlockfile(stdout); }
#endif
// Guards the line buffer and the write: the watcher and render threads log at once.
std::mutex logMutex;
char lineBuffer[kLogLineSize];
std::atomic<int> threshold{kLogThreshold};
thread_local bool silenced = false;
}  // namespace

void SetLogThreshold(int value) { threshold.store(value); }

LogSilence::LogSilence() : previous(silenced) { silenced = true; }
LogSilence::~LogSilence() { silenced = previous; }

void Log(int level, const char* format, ...) {
    if (level < threshold.load(std::memory_order_relaxed) || silenced) return;

    std::lock_guard<std::mutex> lock(logMutex);
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(lineBuffer, sizeof(lineBuffer), format, args);
    va_end(args);
    if (n < 0) lineBuffer[0] = '\0';
    size_t length = n < 0 ? 0 : (static_cast<size_t>(n) < sizeof(lineBuffer) ? static_cast<size_t>(n) : sizeof(lineBuffer) - 1);

    // One locked stdio write per line so that output from other writers
    // (shader logs) cannot land inside it.
    LockStdout();
    std::fwrite(lineBuffer, 1, length, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    UnlockStdout();
}
