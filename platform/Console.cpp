#include "platform/Console.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>
#endif

namespace caldera {

#ifdef _WIN32
void UseParentConsole() {
    // Redirected handles (a pipe, a file) are already where the output belongs.
    auto unset = [](DWORD which) {
        HANDLE handle = GetStdHandle(which);
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    };
    bool out = unset(STD_OUTPUT_HANDLE);
    bool err = unset(STD_ERROR_HANDLE);
    if (!out && !err) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;  // started from a desktop
    if (out && std::freopen("CONOUT$", "w", stdout)) std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (err && std::freopen("CONOUT$", "w", stderr)) std::setvbuf(stderr, nullptr, _IONBF, 0);
}
#else
void UseParentConsole() {}
#endif

}  // namespace caldera
