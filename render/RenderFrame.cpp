#include "render/RenderFrame.h"

#include "playback/FrameDriver.h"
#include "render/PassProfiler.h"
#include "render/Renderer.h"
#include "scene/Camera.h"

void RenderFrame(Window* window) {
    Renderer& renderer = Renderer::Instance();
    if (!renderer.playing.load()) return;
    renderer.hwnd = window;
    PassProfiler* profiler = renderer.profiler;
    if (profiler) profiler->BeginFrame();
    if (BeginFrame()) {
        renderer.CheckShaders();
        PreparedFrame& frame = FrameDriver::Instance().prepared;
        {
            ProfileScope scope(profiler, "front end");
            PrepareFrame(frame, ScreenAspect(renderer.screenWidth, renderer.screenHeight));
        }
        renderer.DrawFrame(frame);
    } else {
        renderer.ClearFrame();
    }
    if (profiler) profiler->EndFrame();
    EndFrame();
}
