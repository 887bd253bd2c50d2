#include "render/RenderFrame.h"

#include "playback/FrameDriver.h"
#include "playback/Show.h"
#include "render/PassProfiler.h"
#include "render/Renderer.h"
#include "scene/Camera.h"

namespace caldera {

void RenderFrame(Window* window) {
    Renderer& renderer = Renderer::Instance();
    Show& show = Show::Instance();
    if (!show.playing.load()) return;
    show.hwnd = window;
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

}  // namespace caldera
