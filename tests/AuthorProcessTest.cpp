// The player's author mode, driven as an author drives it: options on the
// command line, keys to the window, the status read from the window title.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>
#include <vector>

#include "tests/PlayerFixture.h"

using namespace std::chrono_literals;
using harness::Process;

namespace {

using AuthorMode = PlayerFixture;

// The music time of an author-mode title "<title> 1:05.3 ...", or -1.
double TitleTime(const std::string& title) {
    const std::string prefix = std::string(kPlayerTitle) + " ";
    if (title.rfind(prefix, 0) != 0) return -1;
    int minutes = 0, seconds = 0, tenths = 0;
    if (std::sscanf(title.c_str() + prefix.size(), "%d:%d.%d", &minutes, &seconds, &tenths) != 3) return -1;
    return minutes * 60 + seconds + tenths / 10.0;
}

// The key frame of an author-mode title "... frame 126 ...", or -1.
long TitleFrame(const std::string& title) {
    const size_t at = title.find(" frame ");
    return at == std::string::npos ? -1 : std::atol(title.c_str() + at + 7);
}

TEST_F(AuthorMode, StartsAtTheGivenTimeAndSpaceStopsAndRestartsTheClock) {
    std::filesystem::copy_file(std::filesystem::path(DEMO_SOURCE_DIR) / "tests/fixtures/piece-8000-1-10.0.mp3",
                               folder / "music.mp3");
    Process player(DEMOPLAYER_PATH, {"--start", "2"}, Options());
    unsigned long window = harness::FindWindowStartingWith(std::string(kPlayerTitle) + " ", 20s);
    ASSERT_NE(window, 0u) << Stderr();
    auto now = [&] { return TitleTime(harness::WindowTitle(window)); };

    // Within two seconds on an idle machine; a sanitizer build or a busy
    // machine (tests run side by side) draws its first frames slower.
    const auto soon = harness::Scaled(3);
    EXPECT_TRUE(harness::WaitFor([&] { return now() >= 2.0; }, soon)) << harness::WindowTitle(window);
    // Once the music plays, the clock moves on from there.
    ASSERT_TRUE(harness::WaitFor([&] { return now() >= 2.3; }, 10s)) << harness::WindowTitle(window);

    harness::PressKey("space");
    ASSERT_TRUE(harness::WaitFor([&] { return harness::WindowTitle(window).find(" paused") != std::string::npos; }, 5s))
        << harness::WindowTitle(window);
    const double stopped = now();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(now(), stopped) << "the clock ran on while paused";

    harness::PressKey("space");
    EXPECT_TRUE(harness::WaitFor([&] { return now() >= stopped + 0.3; }, 5s)) << harness::WindowTitle(window);
    EXPECT_EQ(harness::WindowTitle(window).find(" paused"), std::string::npos);

    // Right seeks 5 s on, Left 5 s back.
    const double before = now();
    harness::PressKey("Right");
    EXPECT_TRUE(harness::WaitFor([&] { return now() >= before + 5.0; }, 5s)) << harness::WindowTitle(window);
    harness::PressKey("Left");
    EXPECT_TRUE(harness::WaitFor([&] { return now() < before + 3.0; }, 5s)) << harness::WindowTitle(window);

    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(5s));
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
}

// The test production: shot 1 from 0 to 4 s, shot 2 from 4 to 8 s, a gap,
// and shot 3 from 9 s past the end of the 10 s music.
class LoopedShot : public AuthorMode {
protected:
    void SetUp() override {
        AuthorMode::SetUp();
        if (IsSkipped()) return;
        namespace fs = std::filesystem;
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "tests/production", folder.Path(), fs::copy_options::recursive);
        fs::copy(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders", folder / "data/shaders", fs::copy_options::recursive);
        fs::copy_file(fs::path(DEMO_SOURCE_DIR) / "tests/fixtures/piece-8000-1-10.0.mp3", folder / "music.mp3");
    }

    // Watches the title for `span`: every title holds `shot` (a shot, or the
    // loop range) and the key frame the shot's window maps the music time to
    // (`frameAt`), and the music time goes back at least once (the loop)
    // while the player runs on.
    void ExpectLoops(Process& player, const std::string& shot, std::chrono::seconds span,
                     double (*frameAt)(double t)) {
        unsigned long window = harness::FindWindowStartingWith(std::string(kPlayerTitle) + " ", 20s);
        ASSERT_NE(window, 0u) << Stderr();
        ASSERT_TRUE(harness::WaitFor([&] { return harness::WindowTitle(window).find(shot) != std::string::npos; }, 20s))
            << harness::WindowTitle(window);
        double last = TitleTime(harness::WindowTitle(window));
        bool wentBack = false;
        bool framesShown = false;
        const auto until = std::chrono::steady_clock::now() + span;
        while (std::chrono::steady_clock::now() < until && player.Running()) {
            const std::string title = harness::WindowTitle(window);
            const double t = TitleTime(title);
            if (t < 0) continue;  // the window is going away
            EXPECT_NE(title.find(shot), std::string::npos) << title;
            // The title's time is shown in tenths, its frame in whole frames.
            if (const size_t at = title.find(" frame "); at != std::string::npos) {
                EXPECT_NEAR(std::atof(title.c_str() + at + 7), frameAt(t), 3.0) << title;
                framesShown = true;
            }
            if (t < last - 0.5) wentBack = true;
            last = t;
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_TRUE(player.Running()) << "the player ended instead of looping: " << Stderr();
        EXPECT_TRUE(wentBack) << "the music time never went back to the start of the shot";
        EXPECT_TRUE(framesShown) << "the title never showed the key frame";
        harness::PressKey("Escape");
        ASSERT_TRUE(player.Wait(5s));
        EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
    }
};

// The loop repeats the shot asked for, not the one the music stood at before
// it started (shot 1 at time 0).
TEST_F(LoopedShot, RepeatsTheShotAskedFor) {
    Process player(DEMOPLAYER_PATH, {"--shot", "2", "--loop"}, Options());
    // Frames 100 to 200 over 4 s to 8 s.
    ExpectLoops(player, " shot 2 ", 7s, [](double t) { return 100 + 25 * (t - 4); });
}

// The last shot outlasts the music: the loop holds the music's end and
// repeats the shot instead of ending the player.
TEST_F(LoopedShot, RepeatsTheLastShotPastTheEndOfTheMusic) {
    Process player(DEMOPLAYER_PATH, {"--shot", "3", "--loop"}, Options());
    // Frames 200 to 300 over 9 s to 12 s; the loop holds the music at its end.
    ExpectLoops(player, " shot 3 ", 5s, [](double t) { return 200 + 100 * (t - 9) / 3; });
}

// Paused, Period and Comma move the title's key frame by exactly one each;
// Shift+Right seeks one second; I and O set a range that playback repeats
// until L clears it.
TEST_F(LoopedShot, StepsKeyFramesSeeksASecondAndLoopsARangeByKeys) {
    Process player(DEMOPLAYER_PATH, {"--start", "1", "--size", "320x180"}, Options());
    unsigned long window = harness::FindWindowStartingWith(std::string(kPlayerTitle) + " ", 20s);
    ASSERT_NE(window, 0u) << Stderr();
    auto title = [&] { return harness::WindowTitle(window); };
    auto shows = [&](const std::string& part) { return title().find(part) != std::string::npos; };
    ASSERT_TRUE(harness::WaitFor([&] { return TitleFrame(title()) >= 25; }, 20s)) << title();

    harness::PressKey("space");
    ASSERT_TRUE(harness::WaitFor([&] { return shows(" paused"); }, 5s)) << title();
    std::this_thread::sleep_for(300ms);
    const long first = TitleFrame(title());
    // Shot 1 plays frames 0 to 100 over 0 to 4 s: a key frame lasts 40 ms.
    for (const auto& [key, frame] : {std::pair{"period", first + 1}, {"period", first + 2}, {"comma", first + 1}}) {
        harness::PressKey(key);
        EXPECT_TRUE(harness::WaitFor([&] { return TitleFrame(title()) == frame; }, 5s))
            << key << " from frame " << first << ": " << title();
    }
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(TitleFrame(title()), first + 1) << "the paused frame moved";
    const double stepped = TitleTime(title());
    EXPECT_NEAR(stepped, (first + 1) * 0.04, 0.11) << title();

    harness::PressKey("shift+Right");
    ASSERT_TRUE(harness::WaitFor([&] { return TitleTime(title()) >= stepped + 0.95; }, 5s)) << title();
    EXPECT_LT(TitleTime(title()), stepped + 1.15) << "Shift+Right seeks 1 s: " << title();

    // In at about 2 s, out a second later: playback goes back to the in point.
    harness::PressKey("Left");  // back to the start: the range below is short of shot 2
    ASSERT_TRUE(harness::WaitFor([&] { return TitleTime(title()) < 0.5; }, 5s)) << title();
    harness::PressKey("shift+Right");
    harness::PressKey("shift+Right");
    ASSERT_TRUE(harness::WaitFor([&] { return TitleTime(title()) >= 1.9; }, 5s)) << title();
    const double in = TitleTime(title());
    harness::PressKey("i");
    ASSERT_TRUE(harness::WaitFor([&] { return shows(" loop in "); }, 5s)) << "one point loops nothing yet: " << title();
    harness::PressKey("shift+Right");
    ASSERT_TRUE(harness::WaitFor([&] { return TitleTime(title()) >= in + 0.95; }, 5s)) << title();
    harness::PressKey("o");
    ASSERT_TRUE(harness::WaitFor([&] { return shows(" loop 0:0"); }, 5s)) << title();
    harness::PressKey("space");
    bool wentBack = false;
    double last = TitleTime(title());
    const auto until = std::chrono::steady_clock::now() + 4s;
    while (std::chrono::steady_clock::now() < until) {
        const double t = TitleTime(title());
        EXPECT_GE(t, in - 0.05) << title();
        EXPECT_LT(t, in + 1.2) << title();
        if (t < last - 0.5) wentBack = true;
        last = t;
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(wentBack) << "the range never went back to its in point";

    harness::PressKey("l");
    EXPECT_TRUE(harness::WaitFor([&] { return TitleTime(title()) >= in + 1.5; }, 5s)) << title();
    EXPECT_FALSE(shows(" loop")) << title();

    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(5s));
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
}

// --loop-range starts at its in point and repeats the range; ranges and sizes
// that cannot work are refused before a window opens.
TEST_F(LoopedShot, RepeatsTheRangeGivenOnTheCommandLineAndRefusesBadOnes) {
    const std::vector<std::vector<std::string>> refused = {
        {"--loop-range", "2", "1"},        {"--loop-range", "1"},         {"--loop-range", "-1", "2"},
        {"--loop-range", "1", "2", "--loop"}, {"--shot", "1", "--loop-range", "1", "2"},
        {"--loop-range", "5", "20"},       {"--size", "15x100"},          {"--size", "320"},
        {"--size", "320x180x2"},           {"--size", "16385x200"},
    };
    for (const auto& args : refused) {
        Process player(DEMOPLAYER_PATH, args, Options());
        ASSERT_TRUE(player.Wait(10s));
        EXPECT_EQ(player.ExitStatus(), 2) << args[0] << " " << args[1];
        EXPECT_NE(Stderr().find(args[0] == "--size" ? "--size" : "--loop-range"), std::string::npos) << Stderr();
    }

    Process player(DEMOPLAYER_PATH, {"--loop-range", "5", "6.5", "--size", "320x180"}, Options());
    // Frames 100 to 200 over 4 s to 8 s.
    ExpectLoops(player, " loop 0:05.0-0:06.5", 5s, [](double t) {
        EXPECT_GE(t, 4.95);
        EXPECT_LT(t, 6.6);
        return 100 + 25 * (t - 4);
    });
}

TEST_F(AuthorMode, AStartPastTheEndOfTheMusicIsRefused) {
    std::filesystem::copy_file(std::filesystem::path(DEMO_SOURCE_DIR) / "tests/fixtures/piece-8000-1-10.0.mp3",
                               folder / "music.mp3");
    for (const char* start : {"86400", "1e308"}) {
        Process player(DEMOPLAYER_PATH, {"--start", start}, Options());
        ASSERT_TRUE(player.Wait(10s));
        EXPECT_EQ(player.ExitStatus(), 2) << start;
        EXPECT_NE(Stderr().find("past the end of the music"), std::string::npos) << Stderr();
    }
}

TEST_F(AuthorMode, AnUnknownOptionIsRefusedWithTheUsage) {
    Process player(DEMOPLAYER_PATH, {"--frobnicate"}, Options());
    ASSERT_TRUE(player.Wait(10s));
    EXPECT_EQ(player.ExitStatus(), 2);
    EXPECT_NE(Stderr().find("usage: demoplayer"), std::string::npos) << Stderr();
    Process help(DEMOPLAYER_PATH, {"--help"}, Options());
    ASSERT_TRUE(help.Wait(10s));
    EXPECT_EQ(help.ExitStatus(), 0);
    EXPECT_NE(Stdout().find("--start SECONDS"), std::string::npos) << Stdout();
}

}  // namespace
