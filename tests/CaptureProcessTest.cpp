// The capture tool, run headless on the test production.

#include <gtest/gtest.h>
#include <stb/stb_image.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

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
        {{"--at", "1", "--size", "4294967936x360"}, "--size takes"},  // not read as 640x360
        {{"--at", "1.0001", "--at", "1.0004"}, "both make capture-00001.000.png"},
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

#ifndef _WIN32
// Ctrl+C and a service manager's SIGTERM, while a still's simulation runs
// and while frames are written: a prompt end, the shell's status for the
// signal, the previous files as they were and no partial file.
TEST_F(Capture, QuitSignalsEndStillsAndFramesPromptly) {
    CopyProduction();
    ASSERT_TRUE(harness::MakeMp3(folder / "music.mp3", 3.0));
    fs::create_directories(folder / "shots");
    fs::create_directories(folder / "seq");
    harness::WriteFile(folder / "shots/capture-00002.000.png", "the previous still");
    harness::WriteFile(folder / "seq/frame-002999.png", "the previous frame");
    struct Case {
        std::vector<std::string> args;
        bool interrupt;
        const char* folderName;
    };
    const Case cases[] = {
        // A still, then minutes of profiled frames before the next one.
        {{"--at", "1", "--at", "2", "--profile", "100000", "--size", "160x90", "--out", "shots"}, false, "shots"},
        // 3000 frames at the full size: minutes of work.
        {{"--frames", "seq", "--to", "3", "--fps", "1000"}, true, "seq"},
    };
    for (const Case& c : cases) {
        harness::ProcessOptions options;
        options.workingFolder = folder.Path();
        options.stderrPath = folder / "stderr.txt";
        harness::Process tool(DEMOCAPTURE_PATH, c.args, options);
        std::this_thread::sleep_for(3s);
        ASSERT_TRUE(tool.Running()) << Stderr();
        ASSERT_TRUE(c.interrupt ? tool.Interrupt() : tool.Terminate());
        ASSERT_TRUE(tool.Wait(5s)) << c.folderName;
        EXPECT_EQ(tool.ExitStatus(), c.interrupt ? 130 : 143);
        EXPECT_NE(Stderr().find(c.interrupt ? "stopped by SIGINT" : "stopped by SIGTERM"), std::string::npos)
            << Stderr();
        for (const auto& entry : fs::directory_iterator(folder / c.folderName))
            EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos) << entry.path();
    }
    EXPECT_EQ(harness::ReadFile(folder / "shots/capture-00002.000.png"), "the previous still");
    EXPECT_EQ(harness::ReadFile(folder / "seq/frame-002999.png"), "the previous frame");
}

// A full disk, made by a limit on the size of a file the tool may write:
// the still and the frames fail with a message, the previous still stays,
// and no empty or partial file is left.
TEST_F(Capture, AShaderProgramThatFailsToBuildFailsTheRunWithTheDriversLogAndWritesNothing) {
    CopyProduction();
    ASSERT_TRUE(harness::MakeMp3(folder / "music.mp3", 3.0));
    harness::WriteFile(folder / "data/shaders/deferred.fs",
                       "#version 330 compatibility\nout vec4 color;\nvoid main() { color = vec4(undeclaredThing); }\n");
    EXPECT_EQ(Run({"--at", "1", "--size", "160x90", "--out", "shots"}), 2) << Stderr();
    EXPECT_NE(Stderr().find("democapture: shader program 'lighting' failed to build: data/shaders/deferred.fs: "),
              std::string::npos) << Stderr();
    EXPECT_NE(Stderr().find("undeclaredThing"), std::string::npos) << Stderr();
    // A file that is not there is named too; no frame of a sequence is written.
    fs::copy_file(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders/deferred.fs", folder / "data/shaders/deferred.fs",
                  fs::copy_options::overwrite_existing);
    fs::remove(folder / "data/shaders/simple.fs");
    EXPECT_EQ(Run({"--frames", "seq", "--to", "0.2", "--fps", "10", "--size", "160x90"}), 2) << Stderr();
    EXPECT_NE(Stderr().find("shader program 'simple' failed to build: data/shaders/simple.fs: cannot be read"),
              std::string::npos) << Stderr();
    for (const char* name : {"shots", "seq"}) {
        if (fs::exists(folder / name)) {
            EXPECT_TRUE(fs::is_empty(folder / name)) << name;
        }
    }
}

TEST_F(Capture, AFullDiskFailsAndKeepsThePreviousStill) {
    CopyProduction();
    ASSERT_TRUE(harness::MakeMp3(folder / "music.mp3", 3.0));
    fs::create_directories(folder / "shots");
    harness::WriteFile(folder / "shots/capture-00001.000.png", "the previous still");
    const std::vector<std::vector<std::string>> runs{
        {"--at", "1", "--size", "320x180", "--out", "shots"},
        {"--frames", "seq", "--to", "0.2", "--fps", "10", "--size", "320x180"},
    };
    for (const auto& args : runs) {
        // 4 KiB a file at most (stderr.txt holds less), SIGXFSZ ignored so
        // that writes fail as on a full disk instead.
        std::vector<std::string> shellArgs{"-c", "ulimit -f 8; trap '' XFSZ; exec \"$0\" \"$@\"", DEMOCAPTURE_PATH};
        shellArgs.insert(shellArgs.end(), args.begin(), args.end());
        harness::ProcessOptions options;
        options.workingFolder = folder.Path();
        options.stderrPath = folder / "stderr.txt";
        harness::Process tool("/bin/sh", shellArgs, options);
        ASSERT_TRUE(tool.Wait(120s));
        EXPECT_EQ(tool.ExitStatus(), 2) << Stderr();
        EXPECT_NE(Stderr().find("cannot write"), std::string::npos) << Stderr();
    }
    EXPECT_TRUE(harness::ReadFile(folder / "shots/capture-00001.000.png") == "the previous still");
    for (const char* name : {"shots", "seq"})
        for (const auto& entry : fs::directory_iterator(folder / name))
            EXPECT_EQ(entry.path().filename(), "capture-00001.000.png") << entry.path();
}
#endif

#ifndef _WIN32
// demogen on a full disk (the same file-size limit): it fails, and every
// model is either its previous bytes or the whole new file, never a part.
TEST(Demogen, AFullDiskFailsAndLeavesNoPartOfAFile) {
    harness::TempFolder folder;
    const std::string demogen = (fs::path(DEMOCAPTURE_PATH).parent_path() / "demogen").string();
    ASSERT_EQ(harness::RunTool(demogen, {"models", "whole"}, folder, 120s), 0);
    fs::create_directories(folder / "limited");
    for (const auto& entry : fs::directory_iterator(folder / "whole"))
        harness::WriteFile(folder / ("limited/" + entry.path().filename().string()), "the previous model");
    harness::ProcessOptions options;
    options.workingFolder = folder.Path();
    options.stderrPath = folder / "stderr.txt";
    harness::Process tool("/bin/sh", {"-c", "ulimit -f 8; trap '' XFSZ; exec \"$0\" \"$@\"", demogen, "models", "limited"},
                          options);
    ASSERT_TRUE(tool.Wait(120s));
    EXPECT_EQ(tool.ExitStatus(), 1);
    EXPECT_NE(harness::ReadText(folder / "stderr.txt").find("cannot write"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(folder / "limited")) {
        const std::string bytes = harness::ReadFile(entry.path());
        const std::string whole = harness::ReadFile(folder / ("whole/" + entry.path().filename().string()));
        EXPECT_TRUE(bytes == "the previous model" || bytes == whole) << entry.path();
    }
}
#endif

// The starter production: refused over anything already in the folder and
// without shaders, leaving no trace; otherwise lint-clean under --werror,
// with a picture in each of its two shots.
TEST(Demogen, NewWritesAStarterThatLintsCleanAndShowsEachShot) {
    if (!harness::HaveDisplay()) GTEST_SKIP() << "no X display";
    harness::TempFolder folder;
    const fs::path tools = fs::path(DEMOCAPTURE_PATH).parent_path();
    const std::string demogen = (tools / "demogen").string();
    auto run = [&](const std::string& program, const std::vector<std::string>& args, const std::string& in,
                   const std::map<std::string, std::string>& env = {}) {
        harness::ProcessOptions options;
        options.workingFolder = in;
        options.setEnv = env;
        options.stderrPath = folder / "stderr.txt";
        harness::Process tool(program, args, options);
        return tool.Wait(180s) ? tool.ExitStatus() : -1;
    };
    auto stderrText = [&] { return harness::ReadText(folder / "stderr.txt"); };

    fs::create_directories(folder / "taken");
    harness::WriteFile(folder / "taken/notes.txt", "an author's notes");
    EXPECT_EQ(run(demogen, {"new", "taken"}, folder.Path()), 1);
    EXPECT_NE(stderrText().find("not an empty folder"), std::string::npos) << stderrText();
    size_t entries = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder / "taken")) entries += entry.exists();
    EXPECT_EQ(entries, 1u);
    EXPECT_EQ(harness::ReadFile(folder / "taken/notes.txt"), "an author's notes");

    EXPECT_EQ(run(demogen, {"new", "unshaded"}, folder.Path(), {{"DEMO_SHADERS", folder / "nowhere"}}), 1);
    EXPECT_NE(stderrText().find("no shaders found"), std::string::npos) << stderrText();
    EXPECT_FALSE(fs::exists(folder / "unshaded"));

    const int made = run(demogen, {"new", "first"}, folder.Path());
    if (made != 0 && stderrText().find("install lame") != std::string::npos) GTEST_SKIP() << "no lame to encode the music";
    ASSERT_EQ(made, 0) << stderrText();
    const std::string first = folder / "first";
    EXPECT_EQ(run(DEMOLINT_PATH, {"--werror", "."}, first), 0) << stderrText();
    // One still in the middle of each shot (0-8 s and 8-24 s).
    ASSERT_EQ(run(DEMOCAPTURE_PATH, {"--at", "4", "--at", "16", "--size", "160x90", "--out", "shots"}, first), 0)
        << stderrText();
    for (const char* name : {"capture-00004.000.png", "capture-00016.000.png"}) {
        int width = 0, height = 0, channels = 0;
        const std::string path = first + "/shots/" + name;
        unsigned char* rgb = stbi_load(path.c_str(), &width, &height, &channels, 3);
        ASSERT_NE(rgb, nullptr) << path;
        // The lit floor fills much of the frame; a blank or black frame has no lit part.
        int lit = 0;
        for (int i = 0; i < width * height; ++i) lit += std::max({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]}) > 24;
        stbi_image_free(rgb);
        EXPECT_GT(lit, width * height / 5) << name << " is blank";
    }
}
