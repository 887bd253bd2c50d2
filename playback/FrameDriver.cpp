#include "playback/FrameDriver.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/Music.h"
#include "playback/Timeline.h"
#include "render/PassProfiler.h"
#include "render/Renderer.h"
#include "scene/FrameState.h"
#include "scene/Scene.h"

namespace {

// Truncation toward zero; an authored "nan" or "1e400" must not turn into
// undefined behaviour, so such values saturate (NaN reads as 0).
int TruncateToInt(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return std::numeric_limits<int>::max();
    if (value <= -2147483648.0f) return std::numeric_limits<int>::min();
    return static_cast<int>(value);
}

}  // namespace

void RenderFrame(Window* window) {
    Renderer& renderer = Renderer::Instance();
    if (!renderer.playing.load()) return;
    renderer.hwnd = window;
    if (renderer.profiler) renderer.profiler->BeginFrame();
    if (BeginFrame()) renderer.DrawFrame();
    else renderer.ClearFrame();
    if (renderer.profiler) renderer.profiler->EndFrame();
    // A reload during this frame kept the old objects and cameras alive for
    // it; nothing can reach them any more.
    FrameState& frame = FrameState::Current();
    if (Scene* scene = frame.currentScene) scene->ReleaseRetired();
    if (Scene* scene = frame.scheduledScene; scene && scene != frame.currentScene) scene->ReleaseRetired();
}

bool BeginFrame() {
    Renderer& renderer = Renderer::Instance();
    FrameState& frame = FrameState::Current();
    // Frame time in microseconds from the tick clock. The first played frame
    // has no predecessor: it counts as one nominal frame.
    FrameClock& clock = renderer.frameClock ? *renderer.frameClock : renderer.steadyClock;
    int64_t now = clock.NowMicroseconds();
    if (renderer.previousTicks == 0) renderer.previousTicks = now - Renderer::kNominalFrameMicroseconds;
    frame.frameDelta = static_cast<float>(static_cast<double>(now - renderer.previousTicks)) * 1e-6f;
    renderer.previousTicks = now;

    // A music that failed to open reads negative: no entry covers it.
    double t = renderer.musicClock ? renderer.musicClock->PositionSeconds() : -1.0;
    Timeline& timeline = Timeline::Instance();
    TimelineEntry* entry = timeline.FindEntry(t, &frame.scheduledScene);
    // The scene the running order asks for polls its file whether or not it
    // can be drawn: a save without the entry's camera (empty, malformed,
    // caught half-written) leaves it undrawable, and only its own poll can
    // read the fix. A drawn scene polls in the geometry pass instead. A
    // reload here comes before anything of this frame is drawn, so the shot
    // it brings back is looked up again and shown in this very frame.
    if (frame.scheduledScene && (!entry || entry->scene != frame.scheduledScene) && frame.scheduledScene->PollFile())
        entry = timeline.FindEntry(t, &frame.scheduledScene);
    if (!entry) {
        // The camera of the previous frame may be gone with a reload.
        frame.currentCamera = nullptr;
        return false;
    }

    frame.currentScene = entry->scene;
    frame.currentCamera = entry->camera;
    frame.frameStart = TruncateToInt(entry->frameStart);
    frame.frameEnd = TruncateToInt(entry->frameEnd);
    frame.progress = static_cast<float>((t - static_cast<double>(entry->timeStart)) /
                                        static_cast<double>(entry->duration)) * 100.0f;
    return frame.currentScene != nullptr;
}
