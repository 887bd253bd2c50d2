// The POSIX and X11 side of the process harness.
#include "tests/ProcessHarness.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace harness {

Process::Process(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options) {
    // Build argv and envp before forking: the child may only call async-signal-safe functions.
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    // Leaks are not checked in these short runs of players and tools: the
    // whole player's exit is leak-checked by the soak (scripts/soak.sh, run
    // by the test command), and the system's own code by the in-process
    // tests.
    env["ASAN_OPTIONS"] = (env.count("ASAN_OPTIONS") ? env["ASAN_OPTIONS"] + ":" : std::string()) + "detect_leaks=0";
    for (auto& name : options.unsetEnv) env.erase(name);
    for (auto& [name, value] : options.setEnv) env[name] = value;
    std::vector<std::string> envStrings;
    for (auto& [name, value] : env) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    std::string out = options.stdoutPath.empty() ? "/dev/null" : options.stdoutPath;
    std::string err = options.stderrPath.empty() ? "/dev/null" : options.stderrPath;
    std::string cwd = options.workingFolder.empty() ? "." : options.workingFolder;

    pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int r = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = open("/dev/null", O_RDONLY);
        if (o >= 0) dup2(o, 1);
        if (r >= 0) dup2(r, 2);
        if (n >= 0) dup2(n, 0);
        if (chdir(cwd.c_str()) != 0) _exit(126);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
}

Process::~Process() {
    if (pid > 0 && Running()) {
        Kill();
        Wait(std::chrono::seconds(5));
    }
}

bool Process::Running() {
    if (exited || pid <= 0) return false;
    int status = 0;
    pid_t r = waitpid(static_cast<pid_t>(pid), &status, WNOHANG);
    if (r == pid) {
        exited = true;
        exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

bool Process::Wait(std::chrono::milliseconds timeout) {
    return WaitFor([this] { return !Running(); }, timeout);
}

void Process::Kill() {
    if (pid > 0 && !exited) kill(static_cast<pid_t>(pid), SIGKILL);
}

bool Process::Terminate() { return pid > 0 && !exited && kill(static_cast<pid_t>(pid), SIGTERM) == 0; }

bool Process::HangUp() { return pid > 0 && !exited && kill(static_cast<pid_t>(pid), SIGHUP) == 0; }

bool Process::Interrupt() { return pid > 0 && !exited && kill(static_cast<pid_t>(pid), SIGINT) == 0; }

namespace {

// A window can go between the listing of its parent and the question about
// it, or between two questions (a player starting or ending): such an error
// is an answer, not a fault. Xlib's own handler would end the test program.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

Display* OpenDisplay() {
    XSetErrorHandler(IgnoreXError);
    return XOpenDisplay(nullptr);
}

// An X server whose last client has gone resets, and refuses connections for
// a moment: a search opens the display again until it takes the client.
Display* OpenDisplayWithin(std::chrono::milliseconds timeout) {
    Display* d = nullptr;
    WaitFor([&] { return (d = OpenDisplay()) != nullptr; }, std::max(timeout, std::chrono::milliseconds(2000)));
    return d;
}

}  // namespace

bool HaveDisplay() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    // A display that was just started may not take clients for a moment.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (Display* d = OpenDisplay()) {
            XCloseDisplay(d);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

namespace {

unsigned long FindIn(Display* d, Window w, const std::string& title, bool prefix = false) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        bool match = prefix ? std::string(name).rfind(title, 0) == 0 : title == name;
        XFree(name);
        if (match) return w;
    }
    Window root, parent;
    Window* children = nullptr;
    unsigned int count = 0;
    unsigned long found = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i) found = FindIn(d, children[i], title, prefix);
        if (children) XFree(children);
    }
    return found;
}

}  // namespace

unsigned long FindWindow(const std::string& title, std::chrono::milliseconds timeout) {
    Display* d = OpenDisplayWithin(timeout);
    if (!d) return 0;
    unsigned long found = 0;
    WaitFor([&] {
        found = FindIn(d, DefaultRootWindow(d), title);
        return found != 0;
    }, timeout);
    XCloseDisplay(d);
    return found;
}

unsigned long FindWindowStartingWith(const std::string& prefix, std::chrono::milliseconds timeout) {
    Display* d = OpenDisplayWithin(timeout);
    if (!d) return 0;
    unsigned long found = 0;
    WaitFor([&] {
        found = FindIn(d, DefaultRootWindow(d), prefix, true);
        return found != 0;
    }, timeout);
    XCloseDisplay(d);
    return found;
}

std::string WindowTitle(unsigned long window) {
    Display* d = OpenDisplay();
    if (!d) return {};
    std::string title;
    char* name = nullptr;
    if (XFetchName(d, window, &name) && name) {
        title = name;
        XFree(name);
    }
    XCloseDisplay(d);
    return title;
}

bool WindowSize(unsigned long window, int& width, int& height) {
    Display* d = OpenDisplay();
    if (!d) return false;
    XWindowAttributes attributes;
    bool ok = XGetWindowAttributes(d, window, &attributes) != 0;
    if (ok) {
        width = attributes.width;
        height = attributes.height;
    }
    XCloseDisplay(d);
    return ok;
}

bool ScreenSize(int& width, int& height) {
    Display* d = OpenDisplay();
    if (!d) return false;
    width = DisplayWidth(d, DefaultScreen(d));
    height = DisplayHeight(d, DefaultScreen(d));
    XCloseDisplay(d);
    return true;
}

bool CaptureWindow(unsigned long window, int& width, int& height, std::vector<unsigned char>& rgb) {
    Display* d = OpenDisplay();
    if (!d) return false;
    bool ok = false;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(d, window, &attributes) && attributes.map_state == IsViewable) {
        XImage* image = XGetImage(d, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
        if (image) {
            width = attributes.width;
            height = attributes.height;
            rgb.resize(static_cast<size_t>(width) * height * 3);
            // The channel of each mask, whatever the visual's order.
            auto channel = [](unsigned long pixel, unsigned long mask) {
                if (!mask) return 0;
                int shift = 0;
                while (!((mask >> shift) & 1)) ++shift;
                unsigned long max = mask >> shift;
                return static_cast<int>(((pixel & mask) >> shift) * 255 / max);
            };
            // Straight from the image where its pixels are whole 32-bit words
            // in this machine's order; XGetPixel is slow enough to steal the
            // player's time on a small machine.
            const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    unsigned long pixel = direct ? reinterpret_cast<const uint32_t*>(image->data + static_cast<size_t>(y) * image->bytes_per_line)[x]
                                                 : XGetPixel(image, x, y);
                    unsigned char* out = &rgb[(static_cast<size_t>(y) * width + x) * 3];
                    out[0] = static_cast<unsigned char>(channel(pixel, image->red_mask));
                    out[1] = static_cast<unsigned char>(channel(pixel, image->green_mask));
                    out[2] = static_cast<unsigned char>(channel(pixel, image->blue_mask));
                }
            XDestroyImage(image);
            ok = true;
        }
    }
    XCloseDisplay(d);
    return ok;
}

void RequestClose(unsigned long window) {
    Display* d = OpenDisplay();
    if (!d) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &event);
    XFlush(d);
    XCloseDisplay(d);
}

void PressKey(const std::string& keyName) {
    std::string command = "xdotool key " + keyName + " >/dev/null 2>&1";
    [[maybe_unused]] int rc = std::system(command.c_str());
}

}  // namespace harness
