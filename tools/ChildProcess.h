#pragma once

// Another program (the encoder, its probe) run without a shell, under a
// watchdog: every write to it, every wait for its output and for its end has
// a time limit, and a quit signal (platform/QuitSignal.h) ends any of these
// waits at once. A child that outlives a limit, or this object, is killed.

#include <chrono>
#include <string>
#include <vector>

namespace caldera {

class ChildProcess {
public:
    using Duration = std::chrono::milliseconds;

    ChildProcess() = default;
    ~ChildProcess();  // kills a child that still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `args[0]` (found on the PATH) with the rest as its arguments.
    // `pipeInput`: its standard input is a pipe that Write fills (else
    // nothing); `captureOutput`: its standard output is kept for Output()
    // (else it shares this program's); its standard error is this program's
    // unless `quiet`.
    bool Start(const std::vector<std::string>& args, bool pipeInput, bool captureOutput, bool quiet,
               std::string& error);

    // All of `size` bytes to the child's input; false with `error` when it
    // stopped reading, took none for `limit`, or a quit signal came.
    bool Write(const void* data, size_t size, Duration limit, std::string& error);

    // Ends the input and waits at most `limit` for the child to exit
    // (reading its output meanwhile); a child still running then is killed.
    // False with `error` on a time-out or a quit signal; true otherwise, the
    // way it ended in Exited()/Status().
    bool Wait(Duration limit, std::string& error);

    // Kills the child (and what it started) and reaps it.
    void Kill();

    // After Wait: whether it exited with status 0.
    bool Succeeded() const { return ended && exitCode == 0 && endSignal == 0; }
    // "exit status 1", "killed by SIGSEGV".
    std::string Status() const;
    const std::string& Output() const { return output; }

private:
    void CloseInput();
    std::string output;
    bool ended = false;
    int exitCode = -1;
    int endSignal = 0;
#ifdef _WIN32
    void* process = nullptr;      // HANDLE
    void* inputWrite = nullptr;   // HANDLE
    void* outputRead = nullptr;   // HANDLE
    struct Watchdog;
    Watchdog* watchdog = nullptr;
#else
    int pid = -1;
    int inputFd = -1;
    int outputFd = -1;
#endif
};

// Runs a program to its end with its output captured and its errors
// discarded; false with `error` when it could not start, outlived `limit`,
// a quit signal came, or it exited other than with status 0.
bool RunProgram(const std::vector<std::string>& args, ChildProcess::Duration limit, std::string& output,
                std::string& error);

}  // namespace caldera
