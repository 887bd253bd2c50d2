// The real player, started headless in a temporary production folder.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/PlayerFixture.h"

using namespace std::chrono_literals;
using harness::Process;
using harness::ProcessOptions;

namespace {

using Player = PlayerFixture;

}  // namespace

TEST_F(Player, OpensItsWindowAndEscapeEndsIt) {
    Process player(DEMOPLAYER_PATH, {}, Options());
    unsigned long window = harness::FindWindow(kPlayerTitle, 20s);
    ASSERT_NE(window, 0u) << Stderr();
    int width = 0, height = 0;
    ASSERT_TRUE(harness::WindowSize(window, width, height));
    EXPECT_EQ(width, 1280);
    EXPECT_EQ(height, 720);

    std::this_thread::sleep_for(300ms);
    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(2s)) << "still running 2 s after Escape";
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
}

TEST_F(Player, TheOtherVariantsOpenMaximisedAndAt1080p) {
    int screenWidth = 0, screenHeight = 0;
    ASSERT_TRUE(harness::ScreenSize(screenWidth, screenHeight));
    const struct {
        const char* path;
        int width, height;
    } variants[] = {{DEMOPLAYER_MAXIMISED_PATH, screenWidth, screenHeight}, {DEMOPLAYER_1080P_PATH, 1920, 1080}};
    for (const auto& variant : variants) {
        SCOPED_TRACE(variant.path);
        Process player(variant.path, {}, Options());
        unsigned long window = harness::FindWindow(kPlayerTitle, 20s);
        ASSERT_NE(window, 0u) << Stderr();
        // The targets are sized once the window has its size: it must not
        // change afterwards.
        std::this_thread::sleep_for(300ms);
        int width = 0, height = 0;
        ASSERT_TRUE(harness::WindowSize(window, width, height));
        EXPECT_EQ(width, variant.width);
        EXPECT_EQ(height, variant.height);
        harness::RequestClose(window);
        ASSERT_TRUE(player.Wait(5s));
        EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
        ASSERT_TRUE(harness::WaitFor([&] { return harness::FindWindow(kPlayerTitle, 0ms) == 0; }, 2s));
    }
}

TEST_F(Player, ClosingTheWindowEndsIt) {
    Process player(DEMOPLAYER_PATH, {}, Options());
    unsigned long window = harness::FindWindow(kPlayerTitle, 20s);
    ASSERT_NE(window, 0u) << Stderr();
    std::this_thread::sleep_for(300ms);
    harness::RequestClose(window);
    ASSERT_TRUE(player.Wait(2s)) << "still running 2 s after the close request";
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
}

TEST_F(Player, KeepsRunningWithoutMusic) {
    Process player(DEMOPLAYER_PATH, {}, Options());
    ASSERT_NE(harness::FindWindow(kPlayerTitle, 20s), 0u) << Stderr();
    EXPECT_FALSE(player.Wait(5s)) << "ended without music, status " << player.ExitStatus();
    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(2s));
    EXPECT_EQ(player.ExitStatus(), 0);
}

TEST_F(Player, EndsWithTheMusic) {
    ASSERT_TRUE(harness::MakeMp3(folder / "music.mp3", 2.0));
    std::filesystem::create_directories(folder / "data");
    auto start = std::chrono::steady_clock::now();
    Process player(DEMOPLAYER_PATH, {}, Options());
    ASSERT_TRUE(player.Wait(20s)) << "still running long after the music";
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
    // Music starts with the first content poll (about 25 ms after the first
    // frame) and plays 2 s; start-up under a sanitizer on a busy machine
    // takes some seconds more.
    EXPECT_LT(seconds, 15.0);
    EXPECT_GT(seconds, 1.9);
}

TEST_F(Player, WithoutADisplayFailsClearly) {
    ProcessOptions options = Options();
    options.unsetEnv.push_back("DISPLAY");
    options.unsetEnv.push_back("WAYLAND_DISPLAY");
    Process player(DEMOPLAYER_PATH, {}, options);
    ASSERT_TRUE(player.Wait(5s));
    EXPECT_NE(player.ExitStatus(), 0);
    std::string error = Stderr();
    EXPECT_EQ(error.rfind("demoplayer: no display", 0), 0u) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
}
