#include "platform/Log.h"

#include <atomic>
#include <deque>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/Printable.h"

namespace caldera {

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
// The recent lines, under logMutex; keptCount 0 keeps none.
std::atomic<size_t> keptCount{0};
std::deque<std::string> recentLines;

// Whether a line holds anything a terminal might obey (a file name with an
// escape sequence in it) or that is not plain ASCII; line breaks and tabs
// are the log's own.
bool NeedsEscaping(std::string_view line) {
    for (unsigned char c : line)
        if ((c < 0x20 && c != '\n' && c != '\t') || c >= 0x7F) return true;
    return false;
}

// `line` with its line breaks and tabs kept and the rest made printable.
std::string Escaped(std::string_view line) {
    std::string out;
    size_t start = 0;
    for (size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != '\n' && line[i] != '\t') continue;
        out += Printable(line.substr(start, i - start));
        if (i < line.size()) out += line[i];
        start = i + 1;
    }
    return out;
}
}  // namespace

void SetLogThreshold(int value) { threshold.store(value); }

LogSilence::LogSilence() : previous(silenced) { silenced = true; }
LogSilence::~LogSilence() { silenced = previous; }

void KeepRecentLogLines(size_t count) {
    std::lock_guard<std::mutex> lock(logMutex);
    keptCount = count;
    while (recentLines.size() > count) recentLines.pop_front();
}

std::vector<std::string> RecentLogLines() {
    std::lock_guard<std::mutex> lock(logMutex);
    return {recentLines.begin(), recentLines.end()};
}

void Log(int level, const char* format, ...) {
    if (silenced) return;
    const bool written = level >= threshold.load(std::memory_order_relaxed);
    const bool kept = keptCount.load(std::memory_order_relaxed) > 0 && (written || level == 0);
    if (!written && !kept) return;

    std::lock_guard<std::mutex> lock(logMutex);
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(lineBuffer, sizeof(lineBuffer), format, args);
    va_end(args);
    if (n < 0) lineBuffer[0] = '\0';
    size_t length = n < 0 ? 0 : (static_cast<size_t>(n) < sizeof(lineBuffer) ? static_cast<size_t>(n) : sizeof(lineBuffer) - 1);

    // One locked stdio write per line so that output from other writers
    // (shader logs) cannot land inside it.
    const std::string_view line(lineBuffer, length);
    // Names from files anyone can make: rare, so the copy is made only then.
    const std::string escaped = NeedsEscaping(line) ? Escaped(line) : std::string();
    if (kept) {
        recentLines.emplace_back(escaped.empty() ? std::string(line) : escaped);
        while (recentLines.size() > keptCount.load()) recentLines.pop_front();
    }
    if (!written) return;
    LockStdout();
    if (escaped.empty()) std::fwrite(lineBuffer, 1, length, stdout);
    else std::fwrite(escaped.data(), 1, escaped.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    UnlockStdout();
}

}  // namespace caldera
