// Hot reload in the real player: files added and touched while it runs are
// seen by the watcher's own cycle (25 ms, poll, 1000 ms, 500 ms).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/PlayerFixture.h"

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
    ASSERT_NE(harness::FindWindow(kPlayerTitle, 10s), 0u) << harness::ReadFile(folder / "stderr.txt");
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
    EXPECT_EQ(player.ExitStatus(), 0) << harness::ReadFile(folder / "stderr.txt");
}

}  // namespace
