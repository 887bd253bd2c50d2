#include "tests/ProcessHarness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/Portable.h"

namespace harness {

TempFolder::TempFolder() : path(MakeTempFolder("demo-test-")) {}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

int RunTool(const std::string& program, const std::vector<std::string>& args, const TempFolder& folder,
            std::chrono::milliseconds timeout) {
    ProcessOptions options;
    options.workingFolder = folder.Path();
    options.stdoutPath = folder / "stdout.txt";
    options.stderrPath = folder / "stderr.txt";
    Process tool(program, args, options);
    if (!tool.Wait(timeout)) return -1;
    return tool.ExitStatus();
}

bool MakeMp3(const std::string& path, double seconds) {
    char name[64];
    std::snprintf(name, sizeof(name), "tone-44100-2-%.1f.mp3", seconds);
    std::error_code ec;
    std::filesystem::copy_file(Fixture(name), path, std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

namespace {
std::string ReadWhole(const std::filesystem::path& path, std::ios::openmode mode) {
    std::ifstream in(path, mode);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
}  // namespace

std::string ReadFile(const std::filesystem::path& path) { return ReadWhole(path, std::ios::binary); }

double Slowdown() {
    const char* text = std::getenv("DEMO_TEST_SLOWDOWN");
    return text ? std::max(1.0, std::atof(text)) : 1.0;
}

std::chrono::milliseconds Scaled(double seconds) {
    return std::chrono::milliseconds(static_cast<long long>(seconds * Slowdown() * 1000));
}

std::string ReadText(const std::filesystem::path& path) { return ReadWhole(path, std::ios::in); }

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace harness
