#include "tests/ProcessHarness.h"

#include <cstdio>
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

bool MakeMp3(const std::string& path, double seconds) {
    char name[64];
    std::snprintf(name, sizeof(name), "tone-44100-2-%.1f.mp3", seconds);
    std::error_code ec;
    std::filesystem::copy_file(Fixture(name), path, std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

}  // namespace harness
