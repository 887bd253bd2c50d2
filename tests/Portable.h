#pragma once

// Temporary folders, environment variables and fixtures the same way on
// every system the tests run on.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace harness {

// A name no other test process is using at the same moment.
inline std::string UniqueName(const std::string& prefix) {
    static std::mt19937_64 pick(std::random_device{}() ^
                                static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    return prefix + std::to_string(pick() % 1000000000000ull);
}

// Creates a new, empty folder.
inline std::string MakeTempFolder(const std::string& prefix) {
    namespace fs = std::filesystem;
    for (;;) {
        fs::path path = fs::temp_directory_path() / UniqueName(prefix);
        if (fs::create_directory(path)) return path.string();
    }
}

// Sets (or with null, removes) an environment variable of this process.
inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

// A committed fixture file of tests/fixtures/.
inline std::string Fixture(const std::string& name) { return std::string(DEMO_SOURCE_DIR) + "/tests/fixtures/" + name; }

}  // namespace harness
