// The player in a browser. The page (web/index.html) fetches data.pack into
// the in-memory file system, decodes music.mp3 after the viewer's click, sets
// Module.demoSize (or Module.demoCapture for a still) and calls main, which
// sets the show up and hands the frames to the browser's frame loop.
//
// One thread: the desktop's watcher thread is folded into the frame loop.
// Content comes from data.pack, read once, so one content poll loads it all
// and nothing is ever reloaded; a thread would need a server that sends the
// cross-origin isolation headers, and a plain static server must do.

#include <emscripten/emscripten.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "platform/Music.h"
#include "platform/Window.h"
#include "playback/FrameDriver.h"
#include "playback/Production.h"
#include "playback/Show.h"
#include "playback/SteppedSimulation.h"
#include "platform/Gl.h"
#include "render/RenderFrame.h"
#include "render/Renderer.h"
#include "resources/ResourceManager.h"
#include "scene/Camera.h"

namespace caldera {

namespace {

// The capture tool's bounds.
constexpr int kSmallestSide = 6;
constexpr int kLargestSide = 8192;

struct WebShow {
    Window window;
    int width = 0;
    int height = 0;
    Music music;
    bool loaded = false;  // the one content poll is done
    bool over = false;
    long frames = 0;  // frames drawn with the music playing
};
WebShow* web = nullptr;

// Tells the page why the show cannot go on (its message, or "" for none).
void Report(const char* state, const std::string& message) {
    EM_ASM({ if (Module.demoReport) Module.demoReport(UTF8ToString($0), UTF8ToString($1)); }, state, message.c_str());
}

// The show's state for the page and its tests: frames drawn, the music clock
// and the music time the last frame showed.
void Publish(double clock, double frameTime) {
    EM_ASM({ Module.demoState = ({frames: $0, clock: $1, frameTime: $2, playing: !!$3}); },
           static_cast<double>(web->frames), clock, frameTime, Show::Instance().playing.load() ? 1 : 0);
}

void EndShow(const char* why) {
    if (web->over) return;
    web->over = true;
    emscripten_cancel_main_loop();
    web->music.Close();
    Show::Instance().music = nullptr;
    FrameDriver::Instance().musicClock = nullptr;
    Report(why, "");
}

// The frame as the desktop players draw it (render/RenderFrame.h): the
// front end, then the renderer on WebGL 2. Nothing is drawn before the music
// plays. Returns the music time drawn, or a negative number for none.
double DrawFrame() {
    Show& show = Show::Instance();
    if (!show.playing.load()) return -1;
    // What BeginFrame reads a moment later.
    MusicClock* clock = FrameDriver::Instance().musicClock;
    const double drawn = clock ? clock->PositionSeconds() : -1;
    RenderFrame(&web->window);
    return drawn;
}

void OnMusicEnd() { PostQuit(); }

void StartMusic() {
    Show& show = Show::Instance();
    if (show.playing.load()) return;
    show.playing = true;
    if (show.music) {
        show.music->SetEndCallback(OnMusicEnd);
        show.music->Play();
    }
}

// One pass of the browser's frame loop: the keys, the content poll once the
// first frame is shown, the frame.
void PlayFrame() {
    WindowEvent event;
    while (!web->over && web->window.PollEvent(event)) {
        if (event.type == EventType::Quit) EndShow("ended");
        else if (event.type == EventType::KeyDown && event.key == Key::Escape) EndShow("stopped");
        else if (event.type == EventType::KeyDown && event.key == Key::Space && !event.repeat)
            web->music.SetPaused(!web->music.Paused());
    }
    if (web->over) return;
    ResourceManager& resources = ResourceManager::Instance();
    if (!web->loaded && resources.ready.load()) {
        // Everything, from the pack; the poll ends by starting the music.
        resources.Update();
        web->loaded = true;
    }
    const double drawn = DrawFrame();
    if (Show::Instance().playing.load()) ++web->frames;
    if (!resources.ready.load()) resources.ready = true;
    Publish(web->music.PositionSeconds(), drawn);
}

// A still at `at` seconds on the one simulation clock, without music; the
// page's title becomes "ready" once it is on the canvas.
void CaptureStill(double at) {
    static SteppedMusicClock music;
    static FixedStepClock frames;
    ResourceManager& resources = ResourceManager::Instance();
    ConnectProduction(resources, {&music, &frames});
    resources.ready = true;
    resources.Update();
    Show::Instance().playing = true;
    SteppedSimulation simulation(music, frames);
    simulation.AdvanceTo(at);
    RenderStill(simulation, at, &web->window);
    const double drawn = at;
    web->frames = 1;
    Publish(at, drawn);
    // The browser shows the frame after this task; a frame later it is on
    // the canvas for any reader.
    EM_ASM({ requestAnimationFrame(() => requestAnimationFrame(() => { document.title = 'ready'; })); });
}

}  // namespace

}  // namespace caldera

int main() {
    using namespace caldera;
    const bool capture = EM_ASM_INT({ return Module.demoCapture ? 1 : 0; }) != 0;
    const double at = EM_ASM_DOUBLE({ return Module.demoCapture ? Number(Module.demoCapture.at) : 0; });
    const double width = EM_ASM_DOUBLE({
        const size = Module.demoCapture || Module.demoSize || {};
        return Number(size.width);
    });
    const double height = EM_ASM_DOUBLE({
        const size = Module.demoCapture || Module.demoSize || {};
        return Number(size.height);
    });
    static WebShow show;
    web = &show;
    if (!(width >= kSmallestSide && width <= kLargestSide && height >= kSmallestSide && height <= kLargestSide) ||
        std::floor(width) != width || std::floor(height) != height) {
        Report("error", "the picture size must be whole pixels, " + std::to_string(kSmallestSide) + " to " +
                            std::to_string(kLargestSide) + " a side");
        return 2;
    }
    if (capture && !(at >= 0 && std::isfinite(at))) {
        Report("error", "the still's time must be 0 or more seconds");
        return 2;
    }
    WindowConfig config;
    config.width = static_cast<int>(width);
    config.height = static_cast<int>(height);
    std::string error;
    if (!show.window.Create(config, error)) {
        Report("error", error);
        return 1;
    }
    show.width = show.window.drawableWidth;
    show.height = show.window.drawableHeight;
    Renderer& renderer = Renderer::Instance();
    renderer.SetScreenSize(show.width, show.height);
    renderer.Init();

    if (capture) {
        CaptureStill(at);
        return 0;
    }

    Show& shared = Show::Instance();
    shared.playing = false;
    // Without decoded music the show has no clock: it cannot play.
    if (!show.music.Open("music.mp3")) {
        Report("error", "the music could not be decoded");
        return 1;
    }
    shared.music = &show.music;
    ResourceManager& resources = ResourceManager::Instance();
    resources.ready = false;
    ConnectProduction(resources, {&show.music, nullptr});
    resources.hooks.startMusic = StartMusic;
    // The browser's own pace (its display's refresh); main returns, the loop
    // goes on.
    emscripten_set_main_loop(PlayFrame, 0, false);
    return 0;
}
