#include "render/Renderer.h"

#include <chrono>

#include "platform/Music.h"

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
    double t = musicClock ? musicClock->PositionSeconds() : -1.0;
    (void)t;  // the timeline picks the shot from here once it exists
}
