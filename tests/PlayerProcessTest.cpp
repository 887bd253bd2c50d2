// The real player, started headless in a temporary production folder.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/PackBytes.h"
#include "tests/PlayerFixture.h"

using namespace std::chrono_literals;
using harness::Process;
using harness::ProcessOptions;

namespace {

using Player = PlayerFixture;

// Enough small models in data.pack that the watcher's first poll takes many
// seconds to load them: each is a look-up in the pack, an OBJ parse and two
// log lines.
constexpr int kLargePackEntries = 100000;

// Writes the pack directly, one zlib stream shared by every entry, so that it
// takes a moment to make.
void WriteLargePack(const std::string& path) {
    using namespace packbytes;
    const std::string model = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const std::string stream = Zlib(model);
    std::ofstream out(path, std::ios::binary);
    out << Header();
    char name[64];
    for (int i = 0; i < kLargePackEntries; ++i) {
        std::snprintf(name, sizeof(name), "data/models/m%06d.obj", i);
        out << RawEntry(name, static_cast<uint32_t>(stream.size()), static_cast<uint32_t>(model.size()), stream);
    }
}

size_t CountOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
    return n;
}

class LargePack : public PlayerFixture {
protected:
    // Starts the player on the large pack and waits until its watcher is
    // loading the models.
    void StartLoading(std::unique_ptr<Process>& player) {
        WriteLargePack(folder / "data.pack");
        player = std::make_unique<Process>(DEMOPLAYER_PATH, std::vector<std::string>{}, Options());
        ASSERT_NE(harness::FindWindow(kPlayerTitle, 60s), 0u) << Stderr();
        ASSERT_TRUE(harness::WaitFor([&] { return Stdout().find("Adding model : m") != std::string::npos; }, 60s))
            << "the watcher never started on the pack";
    }
    // Waits for the end and checks it came within two seconds, in order, and
    // while the watcher was still busy.
    void ExpectPromptOrderlyEnd(Process& player, const char* what) {
        const auto asked = std::chrono::steady_clock::now();
        ASSERT_TRUE(player.Wait(2s)) << "still running 2 s after " << what;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
        EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
        const size_t loaded = CountOf(Stdout(), "Adding model : m");
        EXPECT_LT(loaded, size_t(kLargePackEntries)) << "the pack was loaded whole before " << what;
        std::printf("ended %.2f s after %s, %zu of %d models loaded\n", seconds, what, loaded, kLargePackEntries);
    }
};

}  // namespace

TEST_F(LargePack, EscapeEndsItWithinTwoSecondsWhileTheWatcherLoads) {
    std::unique_ptr<Process> player;
    ASSERT_NO_FATAL_FAILURE(StartLoading(player));
    harness::PressKey("Escape");
    ExpectPromptOrderlyEnd(*player, "Escape");
}

TEST_F(LargePack, SigtermEndsItLikeEscapeWhileTheWatcherLoads) {
    std::unique_ptr<Process> player;
    ASSERT_NO_FATAL_FAILURE(StartLoading(player));
    if (!player->Terminate()) GTEST_SKIP() << "no signals here";
    ExpectPromptOrderlyEnd(*player, "SIGTERM");
}

TEST_F(Player, SigintAndSighupEndItLikeEscape) {
    for (bool hangUp : {false, true}) {
        Process player(DEMOPLAYER_PATH, {}, Options());
        ASSERT_NE(harness::FindWindow(kPlayerTitle, 20s), 0u) << Stderr();
        std::this_thread::sleep_for(300ms);
        if (!(hangUp ? player.HangUp() : player.Interrupt())) GTEST_SKIP() << "no signals here";
        ASSERT_TRUE(player.Wait(2s)) << "still running 2 s after " << (hangUp ? "SIGHUP" : "SIGINT");
        EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
    }
}

// A FIFO in place of the music or the running order would block whoever
// opens it until some program writes to it: the player must neither wait on
// it nor stop obeying signals.
TEST_F(Player, AFifoInPlaceOfContentIsPassedOver) {
#ifdef _WIN32
    GTEST_SKIP() << "no FIFOs here";
#else
    std::filesystem::create_directories(folder / "data");
    ASSERT_EQ(mkfifo((folder / "music.mp3").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((folder / "data/timeline.xml").c_str(), 0644), 0);
    Process player(DEMOPLAYER_PATH, {}, Options());
    ASSERT_NE(harness::FindWindow(kPlayerTitle, 20s), 0u) << "no window: the player waits on a FIFO? " << Stderr();
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(player.Terminate());
    ASSERT_TRUE(player.Wait(2s)) << "still running 2 s after SIGTERM";
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
#endif
}

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

// --windowed takes the maximised variant's window down to its own size;
// --size gives any variant the size asked for.
TEST_F(Player, WindowedAndSizedOpenAtTheAskedSize) {
    const struct {
        const char* path;
        std::vector<std::string> args;
        int width, height;
    } cases[] = {{DEMOPLAYER_MAXIMISED_PATH, {"--windowed"}, 1280, 720},
                 {DEMOPLAYER_1080P_PATH, {"--size", "640x360"}, 640, 360}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Process player(c.path, c.args, Options());
        unsigned long window = harness::FindWindow(kPlayerTitle, 20s);
        ASSERT_NE(window, 0u) << Stderr();
        std::this_thread::sleep_for(300ms);
        int width = 0, height = 0;
        ASSERT_TRUE(harness::WindowSize(window, width, height));
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
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
#ifdef _WIN32
    GTEST_SKIP() << "a Windows program always has a desktop to open on";
#endif
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
