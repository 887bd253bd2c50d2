#include "tools/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/QuitSignal.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>

#include "platform/File.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <unistd.h>
#endif

namespace caldera {

namespace {

using Clock = std::chrono::steady_clock;

std::string Seconds(ChildProcess::Duration limit) {
    return std::to_string((limit.count() + 999) / 1000) + " s";
}

std::string StoppedBySignal() { return std::string("stopped by ") + QuitSignalName(QuitSignalNumber()); }

const char* SignalName(int signal) {
#ifdef _WIN32
    (void)signal;
    return nullptr;
#else
    switch (signal) {
    case SIGKILL: return "SIGKILL";
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    case SIGSEGV: return "SIGSEGV";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGILL: return "SIGILL";
    case SIGPIPE: return "SIGPIPE";
    case SIGXFSZ: return "SIGXFSZ";
    default: return nullptr;
    }
#endif
}

}  // namespace

ChildProcess::~ChildProcess() { Kill(); }

std::string ChildProcess::Status() const {
    if (!ended) return "still running";
    if (endSignal != 0) {
        const char* name = SignalName(endSignal);
        return std::string("killed by ") + (name ? name : "signal " + std::to_string(endSignal));
    }
    return "exit status " + std::to_string(exitCode);
}

bool RunProgram(const std::vector<std::string>& args, ChildProcess::Duration limit, std::string& output,
                std::string& error) {
    ChildProcess child;
    if (!child.Start(args, false, true, true, error)) return false;
    if (!child.Wait(limit, error)) return false;
    output = child.Output();
    if (!child.Succeeded()) {
        error = args[0] + " failed (" + child.Status() + ")";
        return false;
    }
    return true;
}

#ifndef _WIN32

bool ChildProcess::Start(const std::vector<std::string>& args, bool pipeInput, bool captureOutput, bool quiet,
                         std::string& error) {
    Kill();
    output.clear();
    ended = false;
    int input[2] = {-1, -1}, out[2] = {-1, -1}, failure[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {input[0], input[1], out[0], out[1], failure[0], failure[1]})
            if (fd >= 0) close(fd);
    };
    if ((pipeInput && pipe2(input, O_CLOEXEC) != 0) || (captureOutput && pipe2(out, O_CLOEXEC) != 0) ||
        pipe2(failure, O_CLOEXEC) != 0) {
        error = std::string("cannot start ") + args[0] + ": " + std::strerror(errno);
        closeAll();
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const int nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);

    const pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec. A group of its own:
        // a wrapper script and the encoder it starts are killed together.
        setpgid(0, 0);
#ifdef __linux__
        // Killed with this program, even by SIGKILL: an orphaned encoder
        // would go on writing into the partial file that the next run claims.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
#else
        (void)parent;
#endif
        for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(pipeInput ? input[0] : nullFd, 0);
        if (captureOutput) dup2(out[1], 1);
        if (quiet) dup2(nullFd, 2);
        execvp(argv[0], argv.data());
        const int why = errno;
        (void)!write(failure[1], &why, sizeof why);
        _exit(127);
    }
    const int forkErrno = errno;
    if (nullFd >= 0) close(nullFd);
    if (pid < 0) {
        error = std::string("cannot start ") + args[0] + ": " + std::strerror(forkErrno);
        closeAll();
        return false;
    }
    setpgid(pid, pid);  // either side may run first
    close(failure[1]);
    failure[1] = -1;
    // The failure pipe closes on a successful exec; an errno arrives otherwise.
    int why = 0;
    ssize_t got;
    while ((got = read(failure[0], &why, sizeof why)) < 0 && errno == EINTR) {
    }
    if (got == static_cast<ssize_t>(sizeof why)) {
        error = "cannot start " + args[0] + ": " + std::strerror(why);
        closeAll();
        waitpid(pid, nullptr, 0);
        pid = -1;
        return false;
    }
    if (pipeInput) {
        close(input[0]);
        inputFd = input[1];
        fcntl(inputFd, F_SETFL, fcntl(inputFd, F_GETFL) | O_NONBLOCK);
    }
    if (captureOutput) {
        close(out[1]);
        outputFd = out[0];
        fcntl(outputFd, F_SETFL, fcntl(outputFd, F_GETFL) | O_NONBLOCK);
    }
    close(failure[0]);
    return true;
}

bool ChildProcess::Write(const void* data, size_t size, Duration limit, std::string& error) {
    if (inputFd < 0) {
        error = "the program is not running";
        return false;
    }
    const char* at = static_cast<const char*>(data);
    auto deadline = Clock::now() + limit;
    while (size > 0) {
        if (QuitSignalled()) {
            error = StoppedBySignal();
            return false;
        }
        const ssize_t written = write(inputFd, at, size);
        if (written > 0) {
            at += written;
            size -= static_cast<size_t>(written);
            deadline = Clock::now() + limit;
            continue;
        }
        if (written < 0 && errno == EPIPE) {
            error = "it stopped reading";
            return false;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) {
            error = std::strerror(errno);
            return false;
        }
        if (Clock::now() >= deadline) {
            error = "it took nothing for " + Seconds(limit);
            return false;
        }
        pollfd wait{inputFd, POLLOUT, 0};
        poll(&wait, 1, 100);  // short: a quit signal is seen within a tenth of a second
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (inputFd >= 0) close(inputFd);
    inputFd = -1;
}

bool ChildProcess::Wait(Duration limit, std::string& error) {
    CloseInput();
    if (pid < 0) {
        if (ended) return true;
        error = "the program is not running";
        return false;
    }
    const auto deadline = Clock::now() + limit;
    auto drain = [&] {
        char buffer[4096];
        ssize_t got;
        while (outputFd >= 0 && (got = read(outputFd, buffer, sizeof buffer)) > 0) output.append(buffer, size_t(got));
    };
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            drain();
            ended = true;
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            endSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            pid = -1;
            if (outputFd >= 0) close(outputFd);
            outputFd = -1;
            return true;
        }
        if (QuitSignalled()) {
            Kill();
            error = StoppedBySignal();
            return false;
        }
        if (Clock::now() >= deadline) {
            Kill();
            error = "it did not finish in " + Seconds(limit);
            return false;
        }
        if (outputFd >= 0) {
            pollfd wait{outputFd, POLLIN, 0};
            if (poll(&wait, 1, 20) > 0) drain();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

void ChildProcess::Kill() {
    CloseInput();
    if (pid > 0) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        ended = true;
        exitCode = -1;
        endSignal = SIGKILL;
        pid = -1;
    }
    if (outputFd >= 0) close(outputFd);
    outputFd = -1;
}

#else  // _WIN32

// Windows has no poll on an anonymous pipe: a thread watches each write and
// ends the child when it takes nothing in time, which fails the write.
struct ChildProcess::Watchdog {
    std::atomic<bool> stop{false};
    std::atomic<long long> deadline{0};  // steady-clock ticks; 0: no write under way
    std::atomic<bool> fired{false};
    std::thread thread;
};

namespace {

// One argument quoted the way CommandLineToArgvW and the C runtime read it.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    for (auto c = arg.begin();; ++c) {
        size_t slashes = 0;
        while (c != arg.end() && *c == L'\\') {
            ++c;
            ++slashes;
        }
        if (c == arg.end()) {
            quoted.append(slashes * 2, L'\\');  // doubled before the closing quote
            break;
        }
        // Backslashes count only before a quote mark.
        quoted.append(*c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        quoted += *c;
    }
    return quoted + L"\"";
}

std::string LastError() { return "Windows error " + std::to_string(GetLastError()); }

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& args, bool pipeInput, bool captureOutput, bool quiet,
                         std::string& error) {
    Kill();
    output.clear();
    ended = false;
    std::wstring commandLine;
    for (const std::string& arg : args) {
        if (!commandLine.empty()) commandLine += L' ';
        commandLine += QuoteArgument(PathFromUtf8(arg).wstring());
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr;
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    auto closeAll = [&] {
        for (HANDLE h : {inRead, inWrite, outRead, outWrite, nul})
            if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    };
    if ((pipeInput && !CreatePipe(&inRead, &inWrite, &inherit, 0)) ||
        (captureOutput && !CreatePipe(&outRead, &outWrite, &inherit, 0))) {
        error = "cannot start " + args[0] + ": " + LastError();
        closeAll();
        return false;
    }
    if (inWrite) SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    if (outRead) SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = pipeInput ? inRead : nul;
    startup.hStdOutput = captureOutput ? outWrite : GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = quiet ? nul : GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        error = "cannot start " + args[0] + ": " + LastError();
        closeAll();
        return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    if (inRead) CloseHandle(inRead);
    if (outWrite) CloseHandle(outWrite);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    inputWrite = inWrite;
    outputRead = outRead;
    watchdog = new Watchdog;
    Watchdog* dog = watchdog;
    HANDLE child = process;
    watchdog->thread = std::thread([dog, child] {
        while (!dog->stop.load()) {
            const long long due = dog->deadline.load();
            if (due != 0 && (Clock::now().time_since_epoch().count() >= due || QuitSignalled())) {
                dog->fired = true;
                TerminateProcess(child, 1);
                dog->deadline = 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    return true;
}

bool ChildProcess::Write(const void* data, size_t size, Duration limit, std::string& error) {
    if (!inputWrite) {
        error = "the program is not running";
        return false;
    }
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        if (QuitSignalled()) {
            error = StoppedBySignal();
            return false;
        }
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1 << 20));
        DWORD written = 0;
        watchdog->deadline = (Clock::now() + limit).time_since_epoch().count();
        const BOOL ok = WriteFile(static_cast<HANDLE>(inputWrite), at, chunk, &written, nullptr);
        watchdog->deadline = 0;
        if (!ok || written == 0) {
            error = QuitSignalled() ? StoppedBySignal()
                    : watchdog->fired ? "it took nothing for " + Seconds(limit)
                                      : std::string("it stopped reading");
            return false;
        }
        at += written;
        size -= written;
    }
    return true;
}

void ChildProcess::CloseInput() {
    if (inputWrite) CloseHandle(static_cast<HANDLE>(inputWrite));
    inputWrite = nullptr;
}

bool ChildProcess::Wait(Duration limit, std::string& error) {
    CloseInput();
    if (!process) {
        if (ended) return true;
        error = "the program is not running";
        return false;
    }
    const auto deadline = Clock::now() + limit;
    auto drain = [&] {
        DWORD available = 0;
        while (outputRead && PeekNamedPipe(static_cast<HANDLE>(outputRead), nullptr, 0, nullptr, &available, nullptr) &&
               available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (!ReadFile(static_cast<HANDLE>(outputRead), buffer, std::min<DWORD>(available, sizeof buffer), &got,
                          nullptr) ||
                got == 0)
                break;
            output.append(buffer, got);
        }
    };
    for (;;) {
        drain();
        if (WaitForSingleObject(static_cast<HANDLE>(process), 20) == WAIT_OBJECT_0) {
            drain();
            DWORD code = 1;
            GetExitCodeProcess(static_cast<HANDLE>(process), &code);
            Kill();  // only closes the handles now
            ended = true;
            exitCode = static_cast<int>(code);
            endSignal = 0;
            return true;
        }
        if (QuitSignalled()) {
            Kill();
            error = StoppedBySignal();
            return false;
        }
        if (Clock::now() >= deadline) {
            Kill();
            error = "it did not finish in " + Seconds(limit);
            return false;
        }
    }
}

void ChildProcess::Kill() {
    CloseInput();
    if (watchdog) {
        watchdog->stop = true;
        watchdog->thread.join();
        delete watchdog;
        watchdog = nullptr;
    }
    if (process) {
        if (WaitForSingleObject(static_cast<HANDLE>(process), 0) != WAIT_OBJECT_0) {
            TerminateProcess(static_cast<HANDLE>(process), 1);
            WaitForSingleObject(static_cast<HANDLE>(process), INFINITE);
        }
        CloseHandle(static_cast<HANDLE>(process));
        process = nullptr;
        ended = true;
        exitCode = 1;
    }
    if (outputRead) CloseHandle(static_cast<HANDLE>(outputRead));
    outputRead = nullptr;
}

#endif

}  // namespace caldera
