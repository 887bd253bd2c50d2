#pragma once

// Runs the real player (or a tool) as a child process and watches its window,
// for tests that need the whole program under a display (Xvfb in CI, Wine's
// desktop on it for the Windows build). One side per windowing system:
// ProcessHarnessX11.cpp and ProcessHarnessWin32.cpp.

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace harness {

// A fresh temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

struct ProcessOptions {
    std::string workingFolder;
    std::map<std::string, std::string> setEnv;  // added or replaced
    std::vector<std::string> unsetEnv;
    std::string stdoutPath;  // empty: discarded
    std::string stderrPath;  // empty: discarded
};

class Process {
public:
    Process(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options);
    ~Process();  // kills the child if it still runs

    bool Running();
    // Waits for the end; returns false on time-out.
    bool Wait(std::chrono::milliseconds timeout);
    int ExitStatus() const { return exitStatus; }  // exit code, or 128 + signal
    void Kill();
    // Sends SIGTERM or SIGINT, as a service manager or Ctrl+C would; false
    // where the system has no such signals for another process (Windows).
    bool Terminate();
    bool Interrupt();
    bool HangUp();  // SIGHUP, as a closed terminal or ssh session sends

private:
    long long pid = -1;  // the process id, or on Windows its handle
    bool exited = false;
    int exitStatus = -1;
};

// Runs a tool to its end in `folder`, its output going to stdout.txt and
// stderr.txt there; its exit status, or -1 when it outlives the time-out.
int RunTool(const std::string& program, const std::vector<std::string>& args, const TempFolder& folder,
            std::chrono::milliseconds timeout);

// True when a display is reachable.
bool HaveDisplay();

// The top-level window with this exact title, or 0 after the time-out.
unsigned long FindWindow(const std::string& title, std::chrono::milliseconds timeout);
// The same for a title that starts with `prefix` (the player's author mode
// puts its status after the title).
unsigned long FindWindowStartingWith(const std::string& prefix, std::chrono::milliseconds timeout);
// The window's current title; empty when it cannot be read.
std::string WindowTitle(unsigned long window);
bool WindowSize(unsigned long window, int& width, int& height);
// Size of the default screen of the display.
bool ScreenSize(int& width, int& height);
// The window's pixels as RGB, row by row from the top; false when they
// cannot be read.
bool CaptureWindow(unsigned long window, int& width, int& height, std::vector<unsigned char>& rgb);
// Sends the close request a user's click on the close button sends.
void RequestClose(unsigned long window);
// Types a key to the focused window, named as xdotool names it: "Escape",
// "Return", "space", the arrows ("Left"...), "comma", "period", "Tab", "F5",
// a lower-case letter, and any of them as "shift+NAME".
void PressKey(const std::string& keyName);

// Copies the committed sine tone of `seconds` (tests/fixtures/) to `path`.
bool MakeMp3(const std::string& path, double seconds);

std::string ReadFile(const std::filesystem::path& path);
// A program's output as text: Windows' "\r\n" line ends read as "\n".
std::string ReadText(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// How many times slower than a plain build programs run here: the
// DEMO_TEST_SLOWDOWN the test command sets for sanitizer builds, at least 1.
double Slowdown();
// `seconds` of a plain build, scaled by Slowdown().
std::chrono::milliseconds Scaled(double seconds);

// Polls `predicate` until it holds or the time-out passes.
template <class F>
bool WaitFor(F predicate, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (predicate()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return predicate();
}

}  // namespace harness
