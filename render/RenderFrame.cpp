#include "render/RenderFrame.h"

#include "playback/FrameDriver.h"
#include "playback/Show.h"
#include "playback/SteppedSimulation.h"
#include "platform/Gl.h"
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

void RenderStill(SteppedSimulation& simulation, double t, Window* window) {
    simulation.SetUpFrame(t);
    // The clear colour is GL state that frames hand on: a player that drew a
    // scene before this moment left the glow chain's black, which the next
    // environment cube clears to. Only a show's first drawn frame sees the
    // set-up colour.
    if (simulation.SceneShown()) glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    const float black[4] = {0, 0, 0, 1};
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClearBufferfv(GL_COLOR, 0, black);
    RenderFrame(window);
}

}  // namespace caldera
