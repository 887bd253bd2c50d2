#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace caldera {

// The one diagnostic channel: printf-style, written to standard output as whole lines.
// Level 0 is for errors (dropped by the threshold), level 3 for progress.
// Safe to call from any thread; each call yields exactly one line (plus any
// newlines the format itself holds).

constexpr int kLogThreshold = 3;  // in force unless changed below
constexpr int kLogLineSize = 2048;  // at most kLogLineSize - 1 characters are kept

// MinGW's printf is the C99 one (%zu, %lld), which its checker calls gnu_printf.
#ifdef __MINGW32__
#define DEMO_PRINTF_FORMAT gnu_printf
#else
#define DEMO_PRINTF_FORMAT printf
#endif

void Log(int level, const char* format, ...) __attribute__((format(DEMO_PRINTF_FORMAT, 2, 3)));

// Changes the threshold for the whole process: the player's --verbose sets 0,
// so that the error-level messages are written too. Any thread.
void SetLogThreshold(int threshold);

// The author mode's overlay shows the last few lines of the log. Once
// KeepRecentLogLines() was called, the log keeps the last `count` lines it
// wrote, and its error-level lines even when the threshold drops them.
// RecentLogLines() copies them out, oldest first. Any thread.
void KeepRecentLogLines(size_t count);
std::vector<std::string> RecentLogLines();

// While one of these lives, Log writes nothing from the thread that made it:
// the content checker runs the player's loaders without their progress lines.
class LogSilence {
public:
    LogSilence();
    ~LogSilence();
    LogSilence(const LogSilence&) = delete;
    LogSilence& operator=(const LogSilence&) = delete;

private:
    bool previous;
};

}  // namespace caldera
