// The Win32 side of the process harness: CreateProcess, window lookup by
// title, and posted window messages standing in for a user's close and keys.
#include "tests/ProcessHarness.h"

#include <windows.h>
#undef FindWindow  // the harness has its own

#include <algorithm>
#include <filesystem>

namespace harness {

namespace {

std::wstring Wide(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end())).native();
}

// Quotes one argument the way the C runtime's command-line parser reads it back.
std::wstring Quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

// An inheritable handle writing to `path`, or to NUL when it is empty.
HANDLE OutputHandle(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    return CreateFileW(path.empty() ? L"NUL" : Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool LessIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_LESS_THAN;
}

HWND lastWindow = nullptr;  // the window keys go to

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options) {
    std::wstring commandLine = Quote(Wide(program));
    for (const std::string& arg : args) commandLine += L" " + Quote(Wide(arg));

    // The environment block: this process's, changed as asked, sorted by name.
    std::map<std::wstring, std::wstring, decltype(&LessIgnoringCase)> env(&LessIgnoringCase);
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* e = block; *e; e += wcslen(e) + 1) {
            std::wstring entry = e;
            size_t eq = entry.find(L'=', 1);  // names like "=C:" start with '='
            if (eq != std::wstring::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const std::string& name : options.unsetEnv) env.erase(Wide(name));
    for (const auto& [name, value] : options.setEnv) env[Wide(name)] = Wide(value);
    std::wstring block;
    for (const auto& [name, value] : env) block += name + L"=" + value + L'\0';
    block += L'\0';

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    startup.hStdOutput = OutputHandle(options.stdoutPath);
    startup.hStdError = OutputHandle(options.stderrPath);
    std::wstring cwd = options.workingFolder.empty() ? L"" : Wide(options.workingFolder);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                       cwd.empty() ? nullptr : cwd.c_str(), &startup, &info)) {
        CloseHandle(info.hThread);
        pid = reinterpret_cast<long long>(info.hProcess);
    } else {
        // As a POSIX child that cannot exec: gone at once, status 127.
        exited = true;
        exitStatus = 127;
    }
    for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

Process::~Process() {
    if (pid > 0 && Running()) {
        Kill();
        Wait(std::chrono::seconds(5));
    }
    if (pid > 0) CloseHandle(reinterpret_cast<HANDLE>(pid));
}

bool Process::Running() {
    if (exited || pid <= 0) return false;
    HANDLE process = reinterpret_cast<HANDLE>(pid);
    if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) return true;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    exited = true;
    exitStatus = static_cast<int>(code);
    return false;
}

bool Process::Wait(std::chrono::milliseconds timeout) {
    return WaitFor([this] { return !Running(); }, timeout);
}

void Process::Kill() {
    if (pid > 0 && !exited) TerminateProcess(reinterpret_cast<HANDLE>(pid), 128 + 9);
}

// No signals between processes here: the tests that send them skip.
bool Process::Terminate() { return false; }

bool Process::Interrupt() { return false; }

bool Process::HangUp() { return false; }

bool HaveDisplay() { return GetDesktopWindow() != nullptr; }

unsigned long FindWindow(const std::string& title, std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    WaitFor([&] {
        found = FindWindowW(nullptr, Wide(title).c_str());
        return found != nullptr;
    }, timeout);
    if (found) lastWindow = found;
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(found));
}

unsigned long FindWindowStartingWith(const std::string& prefix, std::chrono::milliseconds timeout) {
    struct Search {
        std::wstring prefix;
        HWND found = nullptr;
    } search{Wide(prefix)};
    WaitFor([&] {
        EnumWindows(
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                wchar_t text[512];
                int n = GetWindowTextW(window, text, 512);
                if (n >= 0 && std::wstring(text, static_cast<size_t>(n)).rfind(s->prefix, 0) == 0) {
                    s->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
    }, timeout);
    if (search.found) lastWindow = search.found;
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(search.found));
}

std::string WindowTitle(unsigned long window) {
    wchar_t text[512];
    int n = GetWindowTextW(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), text, 512);
    if (n <= 0) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, n, out.data(), size, nullptr, nullptr);
    return out;
}

bool WindowSize(unsigned long window, int& width, int& height) {
    RECT client;
    if (!GetClientRect(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), &client)) return false;
    width = client.right - client.left;
    height = client.bottom - client.top;
    return true;
}

bool ScreenSize(int& width, int& height) {
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
    return width > 0 && height > 0;
}

// Not read back under Wine: the picture tests skip.
bool CaptureWindow(unsigned long, int&, int&, std::vector<unsigned char>&) { return false; }

void RequestClose(unsigned long window) {
    // What the close button and Alt+F4 send.
    PostMessageW(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), WM_CLOSE, 0, 0);
}

namespace {

// The virtual key of one of xdotool's key names, 0 for one not known here.
UINT VirtualKey(const std::string& name) {
    if (name.size() == 1 && name[0] >= 'a' && name[0] <= 'z') return static_cast<UINT>('A' + (name[0] - 'a'));
    return name == "Escape"   ? VK_ESCAPE
           : name == "Return" ? VK_RETURN
           : name == "space"  ? VK_SPACE
           : name == "Left"   ? VK_LEFT
           : name == "Right"  ? VK_RIGHT
           : name == "Up"     ? VK_UP
           : name == "Down"   ? VK_DOWN
           : name == "comma"  ? VK_OEM_COMMA
           : name == "period" ? VK_OEM_PERIOD
           : name == "Tab"    ? VK_TAB
           : name == "F5"     ? VK_F5
           : name == "shift"  ? VK_SHIFT
                              : 0;
}

void PostKey(HWND window, UINT key, bool down) {
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC)) << 16;
    // The arrow keys are extended keys; without the flag their scan codes
    // are the keypad's.
    if (key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN) scan |= LPARAM(1) << 24;
    if (down) PostMessageW(window, WM_KEYDOWN, key, 1 | scan);
    else PostMessageW(window, WM_KEYUP, key, 1 | scan | (LPARAM(1) << 30) | (LPARAM(1) << 31));
}

}  // namespace

void PressKey(const std::string& keyName) {
    // "shift+Right": Shift held around the key, as xdotool does it.
    const bool shift = keyName.rfind("shift+", 0) == 0;
    const UINT key = VirtualKey(shift ? keyName.substr(6) : keyName);
    HWND window = lastWindow && IsWindow(lastWindow) ? lastWindow : GetForegroundWindow();
    if (!key || !window) return;
    if (shift) PostKey(window, VK_SHIFT, true);
    PostKey(window, key, true);
    PostKey(window, key, false);
    if (shift) PostKey(window, VK_SHIFT, false);
}

}  // namespace harness
