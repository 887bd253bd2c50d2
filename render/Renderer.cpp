#include "render/Renderer.h"

#include <chrono>
#include <cmath>
#include <limits>

#include "platform/Music.h"
#include "playback/Timeline.h"

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

Renderer& Renderer::Instance() {
    static Renderer instance;
    return instance;
}

void Renderer::Init() {
    shaderWatch = true;
}

void Renderer::RenderFrame(Window* window) {
    if (!playing.load()) return;

    // Frame time in microseconds from the tick clock. The first played frame
    // has no predecessor: it counts as one nominal frame.
    int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::steady_clock::now().time_since_epoch()).count();
    if (previousTicks == 0) previousTicks = now - 16667;
    frameDelta = static_cast<float>(static_cast<double>(now - previousTicks)) * 1e-6f;
    previousTicks = now;

    hwnd = window;
    // A music that failed to open reads negative: no entry covers it.
    double t = musicClock ? musicClock->PositionSeconds() : -1.0;
    TimelineEntry* entry = Timeline::Instance().FindEntry(t);
    if (!entry) return;

    currentScene = entry->scene;
    currentCamera = entry->camera;
    frameStart = TruncateToInt(entry->frameStart);
    frameEnd = TruncateToInt(entry->frameEnd);
    progress = static_cast<float>((t - static_cast<double>(entry->timeStart)) /
                                  static_cast<double>(entry->duration)) * 100.0f;
}
