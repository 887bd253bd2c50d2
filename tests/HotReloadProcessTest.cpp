// Hot reload in the real player: files added and touched while it runs are
// seen by the watcher's own cycle (25 ms, poll, 1000 ms, 500 ms).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/PlayerFixture.h"
#include "tests/Portable.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using harness::Process;
using harness::ProcessOptions;

namespace {

class HotReload : public PlayerFixture {
protected:
    std::string Log() { return Stdout(); }
    // Waits until the log holds every line, in this order, after `from`.
    bool LogShows(const std::vector<std::string>& lines, size_t from, std::chrono::milliseconds timeout) {
        return harness::WaitFor(
            [&] {
                std::string log = Log();
                size_t at = from;
                for (const std::string& line : lines) {
                    at = log.find(line + "\n", at);
                    if (at == std::string::npos) return false;
                }
                return true;
            },
            timeout);
    }
    // Sets the file's time ahead, as an editor's save would change it.
    void Touch(const std::string& relative) {
        fs::last_write_time(folder / relative, fs::file_time_type::clock::now() + 10s);
    }

};

TEST_F(HotReload, AddedAndTouchedFilesAreSeenWithinOneCycle) {
    fs::create_directories(folder / "data/textures");
    fs::create_directories(folder / "data/scenes");
    harness::WriteFile(folder / "data/scenes/intro.xml", "<Scene/>");

    Process player(DEMOPLAYER_PATH, {}, Options());
    ASSERT_NE(harness::FindWindow(kPlayerTitle, 10s), 0u) << harness::ReadText(folder / "stderr.txt");
    // The first poll after the first frame finds the scene.
    ASSERT_TRUE(LogShows({"New recource detected : intro.xml", "Adding scene : intro.xml"}, 0, 5s)) << Log();

    size_t mark = Log().size();
    harness::WriteFile(folder / "data/textures/new.png", "not really a png");
    EXPECT_TRUE(LogShows({"New recource detected : new.png", "Adding texture : new.png"}, mark, 2s)) << Log();

    mark = Log().size();
    Touch("data/textures/new.png");
    EXPECT_TRUE(LogShows({"Detected a change in recource new.png", "Reloading texture : new.png"}, mark, 2s))
        << Log();

    mark = Log().size();
    Touch("data/scenes/intro.xml");
    ASSERT_TRUE(LogShows({"Detected a change in recource intro.xml"}, mark, 2s)) << Log();
    // One more whole cycle: the folder scan adds nothing else for the scene
    // (the scene polls its own file while it is shown).
    std::this_thread::sleep_for(1600ms);
    std::string after = Log().substr(mark);
    for (const char* unexpected : {"Adding scene", "Reloading texture", "Reloading model", "New recource"})
        EXPECT_EQ(after.find(unexpected), std::string::npos) << after;
    EXPECT_EQ(after.find("Detected a change in recource intro.xml"),
              after.rfind("Detected a change in recource intro.xml"))
        << after;

    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(3s)) << "still running 3 s after Escape";
    EXPECT_EQ(player.ExitStatus(), 0) << harness::ReadText(folder / "stderr.txt");
}

// The window's picture, and how far two of them are apart.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;

    double MeanBrightness() const {
        double sum = 0;
        for (unsigned char c : rgb) sum += c;
        return rgb.empty() ? 0 : sum / static_cast<double>(rgb.size());
    }
    // Mean absolute difference per channel, 0 to 255.
    double DistanceTo(const Picture& other) const {
        if (other.rgb.size() != rgb.size() || rgb.empty()) return 255;
        double sum = 0;
        for (size_t i = 0; i < rgb.size(); ++i) sum += std::abs(int(rgb[i]) - int(other.rgb[i]));
        return sum / static_cast<double>(rgb.size());
    }
};

Picture Capture(unsigned long window) {
    Picture picture;
    harness::CaptureWindow(window, picture.width, picture.height, picture.rgb);
    return picture;
}

// Captures the window every 50 ms until `wanted` holds for the picture,
// which is left in `picture`. Captures a few times a frame, not more: on a
// small machine the captures would otherwise slow the player down.
template <class Wanted>
bool WaitForPicture(unsigned long window, Picture& picture, Wanted wanted, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        picture = Capture(window);
        if (wanted(picture)) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(50ms);
    }
}

// The test production held on one still shot (key frame 0 throughout), so
// that every frame of the show is the same picture; a minute of music.
void StillRoomProduction(const harness::TempFolder& folder) {
    fs::copy(fs::path(DEMO_SOURCE_DIR) / "tests/production", folder.Path(), fs::copy_options::recursive);
    fs::create_directories(folder / "data/shaders");
    fs::copy(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders", folder / "data/shaders", fs::copy_options::recursive);
    harness::WriteFile(folder / "data/timeline.xml",
                       R"(<TimeLine><TimeLineObject scene="room" camera="front">)"
                       R"(<TimeStart value="0"/><Duration value="1000"/><FrameStart value="0"/><FrameEnd value="0"/>)"
                       R"(</TimeLineObject></TimeLine>)");
    fs::copy_file(harness::Fixture("piece-8000-1-60.0.mp3"), folder / "music.mp3");
}

// A picture that is all but black: nothing drawn.
constexpr double kBlack = 1.0;

TEST_F(HotReload, AnEmptiedSceneComesBackInPicturesWithinASecondOfItsFix) {
    StillRoomProduction(folder);
    const std::string scene = folder / "data/scenes/room.xml";
    const std::string good = harness::ReadFile(scene);

    Process player(DEMOPLAYER_PATH, {}, Options());
    unsigned long window = harness::FindWindow(kPlayerTitle, 10s);
    ASSERT_NE(window, 0u) << Stderr();
    Picture shown;
    if (!harness::CaptureWindow(window, shown.width, shown.height, shown.rgb)) GTEST_SKIP() << "no window capture";
    // The first frame builds every program and the cube map: seconds on a
    // software rasteriser.
    ASSERT_TRUE(WaitForPicture(window, shown, [](const Picture& p) { return p.MeanBrightness() > 8 * kBlack; }, harness::Scaled(20)))
        << "the show never appeared; brightness " << shown.MeanBrightness() << " of a " << shown.width << "x"
        << shown.height << " capture\n" << Log();
    // Frames apart: the still shot is steady from the second frame on (the
    // first frame's environment is cleared to the set-up colour).
    std::this_thread::sleep_for(harness::Scaled(1.5));
    shown = Capture(window);
    std::this_thread::sleep_for(harness::Scaled(1.5));
    ASSERT_LT(Capture(window).DistanceTo(shown), 2.0);

    // An editor's save of nothing: the scene empties, its camera is gone and
    // the frame draws nothing.
    harness::WriteFile(scene, "");
    fs::last_write_time(scene, fs::file_time_type::clock::now() + 10s);
    Picture black;
    ASSERT_TRUE(WaitForPicture(window, black, [](const Picture& p) { return p.MeanBrightness() < kBlack; }, harness::Scaled(5)))
        << "the emptied scene still shows\n" << Log();
    // Polls go on while nothing is drawn: the reload message every 500 ms.
    const size_t mark = Log().size();
    std::this_thread::sleep_for(1200ms);
    const std::string whileEmpty = Log().substr(mark);
    size_t reloads = 0;
    for (size_t at = 0; (at = whileEmpty.find("Reloading scene : data/scenes/room.xml", at)) != std::string::npos; ++at)
        ++reloads;
    EXPECT_GE(reloads, 2u) << whileEmpty;

    // The fix: within about a second (at most one poll interval, then the
    // frame that draws it, slow on a software rasteriser) the same picture is
    // back.
    harness::WriteFile(scene, good);
    fs::last_write_time(scene, fs::file_time_type::clock::now() + 20s);
    const auto fixed = std::chrono::steady_clock::now();
    Picture back;
    const bool cameBack = WaitForPicture(window, back, [&](const Picture& p) { return p.DistanceTo(shown) < 2.0; }, harness::Scaled(10));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - fixed).count();
    ASSERT_TRUE(cameBack) << "the show did not come back; distance " << back.DistanceTo(shown) << "\n" << Log();
    // About a second here is one poll interval (500 ms) and then one frame
    // of the full pipeline at 1280 x 720, which a software rasteriser on a
    // busy two-core machine can take seconds to draw: the bound keeps room
    // for that. Without the scheduled scene's own poll it never comes back.
    EXPECT_LT(seconds, 5.0 * harness::Slowdown()) << "the show came back after " << seconds << " s";
    std::printf("the show came back %.2f s after the fix\n", seconds);

    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(3s)) << "still running 3 s after Escape";
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
}

// F5 in author mode reads every file again, also one whose time did not
// change; here a scene emptied behind the poll's back. The preview size is
// the window's and the picture's.
TEST_F(HotReload, F5ReadsEveryFileAgainWhateverItsTime) {
    StillRoomProduction(folder);

    Process player(DEMOPLAYER_PATH, {"--author", "--size", "320x180"}, Options());
    unsigned long window = harness::FindWindowStartingWith(std::string(kPlayerTitle) + " ", 10s);
    ASSERT_NE(window, 0u) << Stderr();
    int width = 0, height = 0;
    ASSERT_TRUE(harness::WindowSize(window, width, height));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 180);
    Picture shown;
    if (!harness::CaptureWindow(window, shown.width, shown.height, shown.rgb)) GTEST_SKIP() << "no window capture";
    ASSERT_TRUE(WaitForPicture(window, shown, [](const Picture& p) { return p.MeanBrightness() > 8 * kBlack; }, harness::Scaled(20)))
        << "the show never appeared\n" << Log();
    EXPECT_EQ(shown.width, 320);
    EXPECT_EQ(shown.height, 180);

    // The scene emptied, its time put back: no poll sees a change.
    const std::string scene = folder / "data/scenes/room.xml";
    const fs::file_time_type savedAt = fs::last_write_time(scene);
    harness::WriteFile(scene, "");
    fs::last_write_time(scene, savedAt);
    std::this_thread::sleep_for(harness::Scaled(2));
    shown = Capture(window);
    ASSERT_GT(shown.MeanBrightness(), 8 * kBlack) << "the scene reloaded without a change of time\n" << Log();

    const size_t mark = Log().size();
    harness::PressKey("F5");
    Picture black;
    EXPECT_TRUE(WaitForPicture(window, black, [](const Picture& p) { return p.MeanBrightness() < kBlack; }, harness::Scaled(5)))
        << "the emptied scene still shows after F5\n" << Log();
    // The rest of the content is read again too, on the watcher's side.
    EXPECT_TRUE(LogShows({"Reloading model : cube.obj"}, mark, 5s)) << Log().substr(mark);
    EXPECT_TRUE(LogShows({"Reloading scene : data/scenes/room.xml"}, mark, 5s)) << Log().substr(mark);

    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(3s)) << "still running 3 s after Escape";
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();
}

}  // namespace
