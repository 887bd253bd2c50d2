// The author's free camera, end to end: what the author sees through it is
// what the keys it prints give. Fly it in the player, print its view, paste
// that into the scene as the shot's camera, and the capture tool's still of
// the same moment matches the window's picture. The overlay shows in the
// window and never in the still.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/Picture.h"
#include "tests/PlayerFixture.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Mean absolute difference per channel over the top-left `w` x `h` pixels.
double CornerDifference(const Picture& a, const Picture& b, int w, int h) {
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) {
            const size_t i = static_cast<size_t>(y) * a.width * 3 + x;
            sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
        }
    return sum / (w * h * 3.0);
}

void Xdotool(const std::string& arguments) {
    const std::string command = "xdotool " + arguments + " >/dev/null 2>&1";
    [[maybe_unused]] int rc = std::system(command.c_str());
}

using FreeCamera = PlayerFixture;

TEST_F(FreeCamera, PrintedKeysCaptureTheViewTheAuthorSaw) {
#ifdef _WIN32
    GTEST_SKIP() << "drives the window with xdotool";
#endif
    if (std::string(DEMOCAPTURE_PATH).empty()) GTEST_SKIP() << "no democapture";
    fs::copy(fs::path(DEMO_SOURCE_DIR) / "tests/production", folder.Path(), fs::copy_options::recursive);
    fs::copy(fs::path(DEMO_SOURCE_DIR) / "demo/data/shaders", folder / "data/shaders", fs::copy_options::recursive);
    fs::copy_file(fs::path(DEMO_SOURCE_DIR) / "tests/fixtures/piece-8000-1-10.0.mp3", folder / "music.mp3");

    harness::Process player(DEMOPLAYER_PATH, {"--start", "1"}, Options());
    const unsigned long window = harness::FindWindowStartingWith(std::string(kPlayerTitle) + " ", 20s);
    ASSERT_NE(window, 0u) << Stderr();
    auto titleHas = [&](const char* text) { return harness::WindowTitle(window).find(text) != std::string::npos; };
    ASSERT_TRUE(harness::WaitFor([&] { return titleHas(" frame "); }, 20s)) << harness::WindowTitle(window);

    // Stop time, take the free camera, fly forward and look left and down.
    harness::PressKey("space");
    ASSERT_TRUE(harness::WaitFor([&] { return titleHas(" paused"); }, 10s)) << harness::WindowTitle(window);
    harness::PressKey("f");
    ASSERT_TRUE(harness::WaitFor([&] { return titleHas(" free"); }, 10s)) << harness::WindowTitle(window);
    Xdotool("keydown w sleep 0.4 keyup w");
    Xdotool("mousemove --window " + std::to_string(window) + " 640 360 mousedown 1 mousemove_relative -- -40 25");
    std::this_thread::sleep_for(harness::Scaled(0.3));
    Xdotool("mouseup 1");

    // Two frames drawn after the last move is enough; four leaves margin.
    auto settle = [&] { std::this_thread::sleep_for(harness::Scaled(2.5)); };
    harness::PressKey("Tab");
    settle();
    Picture withOverlay, picture;
    ASSERT_TRUE(harness::CaptureWindow(window, withOverlay.width, withOverlay.height, withOverlay.rgb));
    harness::PressKey("Tab");
    settle();
    ASSERT_TRUE(harness::CaptureWindow(window, picture.width, picture.height, picture.rgb));

    harness::PressKey("p");
    ASSERT_TRUE(harness::WaitFor([&] { return Stdout().find("</Camera>") != std::string::npos; }, 10s)) << Stdout();
    harness::PressKey("Escape");
    ASSERT_TRUE(player.Wait(10s));
    EXPECT_EQ(player.ExitStatus(), 0) << Stderr();

    // The printed view: its music time, and a Camera element for "front".
    const std::string out = Stdout();
    const size_t comment = out.find("<!-- view at ");
    ASSERT_NE(comment, std::string::npos) << out;
    const double at = std::atof(out.c_str() + comment + 13);
    const size_t begin = out.find("<Camera name=\"front\">", comment);
    const size_t end = out.find("</Camera>", comment);
    ASSERT_TRUE(begin != std::string::npos && end != std::string::npos) << out;
    const std::string camera = out.substr(begin, end + 9 - begin);
    EXPECT_EQ(camera.find("<Position x=\"0\" y=\"3\" z=\"10\"/>"), std::string::npos) << "the camera did not move";

    // Pasted over the shot's camera.
    const fs::path scene = folder / "data/scenes/room.xml";
    std::string xml = harness::ReadFile(scene);
    const size_t old = xml.find("<Camera name=\"front\">");
    ASSERT_NE(old, std::string::npos);
    xml.replace(old, xml.find("</Camera>", old) + 9 - old, camera);
    harness::WriteFile(scene, xml);

    char time[32];
    std::snprintf(time, sizeof(time), "%.6f", at);
    const std::string size = std::to_string(picture.width) + "x" + std::to_string(picture.height);
    ASSERT_EQ(harness::RunTool(DEMOCAPTURE_PATH, {"--at", time, "--size", size, "--out", "still"}, folder, 120s), 0)
        << harness::ReadText(folder / "stderr.txt");
    Picture still;
    for (const auto& entry : fs::directory_iterator(folder / "still")) {
        still = LoadPicture(entry.path().string());
        ASSERT_FALSE(still.rgb.empty()) << entry.path();
    }
    const double psnr = Psnr(picture, still);
    EXPECT_GE(psnr, 40.0) << "the printed keys show another view than the window did";
    // The overlay was there in the window, over the top left corner, and
    // only there.
    EXPECT_GT(CornerDifference(withOverlay, picture, 200, 40), 10.0);
    EXPECT_LT(Psnr(withOverlay, still), psnr);
    std::printf("window against still: PSNR %.1f dB\n", psnr);
}

}  // namespace
