// democapture: renders chosen moments of a production to PNG files, through
// the player's own frame path, with the music and frame clocks driven here so
// that the same command gives the same pixels every time.
//
//   democapture [--at SECONDS]... [--size WxH] [--out DIR] [--profile N]
//
// Run in a production folder (one holding data/timeline.xml, loose or in
// data.pack). The simulation advances from time 0 in fixed 1/60 s steps
// without drawing the frames in between.

#include <GL/glew.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/Music.h"
#include "particles/ObjectParticles.h"
#include "platform/Window.h"
#include "playback/FrameDriver.h"
#include "playback/Production.h"
#include "render/FrameClock.h"
#include "render/ParticleDraw.h"
#include "render/PassProfiler.h"
#include "render/Renderer.h"
#include "resources/ResourceManager.h"
#include "scene/Scene.h"

namespace {

constexpr int64_t kStepMicroseconds = 16667;  // one 1/60 s simulation step
constexpr double kStepSeconds = 1.0 / 60.0;

struct Options {
    std::vector<double> times;
    int width = 1280;
    int height = 720;
    std::string outFolder = ".";
    int profileFrames = 0;
};

// The music position the tool sets.
class SteppedMusicClock : public MusicClock {
public:
    double seconds = 0;
    double PositionSeconds() const override { return seconds; }
};

int Fail(const std::string& message) {
    std::fprintf(stderr, "democapture: %s\n", message.c_str());
    return 2;
}

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: democapture [--at SECONDS]... [--size WxH] [--out DIR] [--profile N]\n"
                 "Renders the production in the current folder at the given music times to\n"
                 "DIR/capture-SECONDS.png (default size 1280x720; --profile N renders N more\n"
                 "frames at each time and prints the mean GPU time of each pass).\n");
}

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

// Returns an empty string on success, else what was wrong.
std::string ParseArguments(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--at") {
            const char* text = value();
            double t = 0;
            if (!text || !ParseNumber(text, t) || t < 0 || t > 24 * 3600)
                return "--at takes a music time in seconds, from 0";
            options.times.push_back(t);
        } else if (arg == "--size") {
            const char* text = value();
            int w = 0, h = 0;
            char extra = 0;
            if (!text || std::sscanf(text, "%dx%d%c", &w, &h, &extra) != 2 || w < 6 || h < 6 || w > 8192 || h > 8192)
                return "--size takes WIDTHxHEIGHT, each from 6 to 8192";
            options.width = w;
            options.height = h;
        } else if (arg == "--out") {
            const char* text = value();
            if (!text || !*text) return "--out takes a folder";
            options.outFolder = text;
        } else if (arg == "--profile") {
            const char* text = value();
            double n = 0;
            if (!text || !ParseNumber(text, n) || n < 1 || n > 100000 || n != std::floor(n))
                return "--profile takes a number of frames, from 1";
            options.profileFrames = static_cast<int>(n);
        } else {
            return "unknown argument '" + arg + "'";
        }
    }
    if (!help && options.times.empty()) return "nothing to render: give at least one --at SECONDS";
    return "";
}

bool HoldsProduction() {
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::is_regular_file("data/timeline.xml", error)) return true;
    return ResourceManager::Instance().IsInPack("data/timeline.xml");
}

bool WritePng(const std::string& path, int width, int height) {
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    // The window's alpha means nothing: store the picture opaque.
    for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
    // GL rows run bottom-up, PNG rows top-down.
    const int stride = width * 4;
    return stbi_write_png(path.c_str(), width, height, 4, pixels.data() + static_cast<size_t>(height - 1) * stride,
                          -stride) != 0;
}

std::string CaptureName(const std::string& folder, double t) {
    char name[64];
    std::snprintf(name, sizeof(name), "capture-%09.3f.png", t);
    return PathToUtf8(PathFromUtf8(folder) / name);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    std::vector<char*> utf8Argv;
    for (std::string& arg : args) utf8Argv.push_back(arg.data());
    std::string error = ParseArguments(static_cast<int>(utf8Argv.size()), utf8Argv.data(), options, help);
    if (help) {
        Usage(stdout);
        return 0;
    }
    if (!error.empty()) {
        Usage(stderr);
        return Fail(error);
    }
    if (!HoldsProduction()) return Fail("no production in this folder (no data/timeline.xml, loose or in data.pack)");
    std::error_code folderError;
    std::filesystem::create_directories(PathFromUtf8(options.outFolder), folderError);
    if (!std::filesystem::is_directory(PathFromUtf8(options.outFolder), folderError))
        return Fail("cannot write to the folder '" + options.outFolder + "'");
    std::sort(options.times.begin(), options.times.end());

    Window window;
    WindowConfig config;
    config.width = options.width;
    config.height = options.height;
    config.title = "democapture";
    if (!window.Create(config, error)) return Fail(error);
    // Rendering never waits for the display here.
    Renderer& renderer = Renderer::Instance();
    renderer.screenWidth = window.drawableWidth;
    renderer.screenHeight = window.drawableHeight;
    renderer.glowWidth = renderer.screenWidth / 6;
    renderer.glowHeight = renderer.screenHeight / 6;
    renderer.Init();

    SteppedMusicClock music;
    FixedStepClock frames;
    renderer.musicClock = &music;
    renderer.frameClock = &frames;

    // Everything loads now, in the order of the player's first content poll;
    // the poll ends by starting playback.
    ResourceManager& resources = ResourceManager::Instance();
    InstallParticleSystems();
    ConnectProduction(resources);
    resources.ready = true;
    resources.Update();
    renderer.playing = true;

    const float black[4] = {0, 0, 0, 1};
    long step = 0;
    int written = 0;
    bool sceneShown = false;
    for (double t : options.times) {
        // Simulate up to the moment without drawing.
        while (static_cast<double>(step) * kStepSeconds < t - 1e-9) {
            music.seconds = static_cast<double>(step) * kStepSeconds;
            frames.Advance(kStepMicroseconds);
            if (BeginFrame()) {
                UpdateScene(*renderer.frame.currentScene, renderer.frame.frameDelta);
                sceneShown = true;
            }
            ++step;
        }
        // The clear colour is GL state that frames hand on: a player that
        // drew a scene before this moment left the glow chain's black, which
        // the next environment cube clears to. Only a show's first drawn
        // frame sees the set-up colour.
        if (sceneShown) glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        music.seconds = t;
        frames.Advance(kStepMicroseconds);
        // A moment that no shot covers shows a cleared picture.
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glClearBufferfv(GL_COLOR, 0, black);
        RenderFrame(&window);
        std::string path = CaptureName(options.outFolder, t);
        if (!WritePng(path, renderer.screenWidth, renderer.screenHeight)) return Fail("cannot write " + path);
        std::printf("wrote %s\n", path.c_str());
        ++written;
        window.Swap();

        if (options.profileFrames > 0) {
            PassProfiler profiler;
            renderer.profiler = &profiler;
            for (int i = 0; i < options.profileFrames; ++i) {
                frames.Advance(kStepMicroseconds);
                RenderFrame(&window);
                window.Swap();
            }
            renderer.profiler = nullptr;
            std::printf("GPU time at %.3f s, mean of %d frames at %dx%d:\n", t, options.profileFrames,
                        renderer.screenWidth, renderer.screenHeight);
            for (const PassProfiler::Pass& pass : profiler.passes)
                std::printf("  %-24s %9.3f ms\n", pass.name.c_str(), pass.frames ? pass.totalMs / pass.frames : 0.0);
            std::printf("  %-24s %9.3f ms\n", "whole frame",
                        profiler.frame.frames ? profiler.frame.totalMs / profiler.frame.frames : 0.0);
        }
    }
    std::fflush(stdout);
    window.Destroy();
    return written == static_cast<int>(options.times.size()) ? 0 : 1;
}
