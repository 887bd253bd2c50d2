// The capture tool, run headless on the test production.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/ProcessHarness.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class Capture : public ::testing::Test {
protected:
    void SetUp() override {
        if (!harness::HaveDisplay()) GTEST_SKIP() << "no X display";
    }
    // Runs democapture in `folder` and returns its exit status.
    int Run(const std::vector<std::string>& args) { return harness::RunTool(DEMOCAPTURE_PATH, args, folder, 120s); }
    void CopyProduction() {
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "tests/production", folder.Path(), fs::copy_options::recursive);
        fs::create_directories(folder / "data/shaders");
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders", folder / "data/shaders", fs::copy_options::recursive);
    }
    std::string Stderr() { return harness::ReadText(folder / "stderr.txt"); }

    harness::TempFolder folder;
};

// Width and height from a PNG's header.
bool PngSize(const std::string& bytes, int& width, int& height) {
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return false;
    auto u32 = [&](size_t at) {
        return int(uint8_t(bytes[at])) << 24 | int(uint8_t(bytes[at + 1])) << 16 | int(uint8_t(bytes[at + 2])) << 8 |
               int(uint8_t(bytes[at + 3]));
    };
    width = u32(16);
    height = u32(20);
    return true;
}

}  // namespace

TEST_F(Capture, BadArgumentsAndEmptyFoldersAreRefusedClearly) {
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{}, "nothing to render"},
        {{"--at"}, "--at takes"},
        {{"--at", "-1"}, "--at takes"},
        {{"--at", "1", "--size", "640"}, "--size takes"},
        {{"--at", "1", "--size", "0x0"}, "--size takes"},
        {{"--at", "1", "--profile", "1.5"}, "--profile takes"},
        {{"--frobnicate"}, "unknown argument"},
        {{"--at", "1"}, "no production"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run(c.args), 2);
        EXPECT_NE(Stderr().find(c.says), std::string::npos) << Stderr();
    }
    EXPECT_EQ(Run({"--help"}), 0);
}

TEST_F(Capture, WritesTheSamePicturesEveryTime) {
    CopyProduction();
    const std::vector<std::string> args{"--at", "8.5", "--at", "1", "--size", "160x90", "--out", "shots"};
    ASSERT_EQ(Run(args), 0) << Stderr();
    const std::string first = folder / "shots/capture-00001.000.png";
    const std::string gap = folder / "shots/capture-00008.500.png";
    std::string a = harness::ReadFile(first), g = harness::ReadFile(gap);
    int width = 0, height = 0;
    ASSERT_TRUE(PngSize(a, width, height));
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 90);
    ASSERT_TRUE(PngSize(g, width, height));

    fs::rename(folder / "shots", folder / "before");
    ASSERT_EQ(Run(args), 0) << Stderr();
    EXPECT_EQ(harness::ReadFile(first), a);
    EXPECT_EQ(harness::ReadFile(gap), g);
}
