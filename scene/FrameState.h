#pragma once

namespace caldera {

class Scene;
class Camera;

// Where the production stands this frame: the shot the frame driver found
// and the key-frame position every property evaluates at. The frame driver
// publishes it at the start of each frame; everything else reads it.
// Render thread only.
struct FrameState {
    Scene* currentScene = nullptr;
    Camera* currentCamera = nullptr;  // null on a frame that draws nothing
    // The scene of the running order's entry for this frame, drawn or not:
    // a scene whose camera does not resolve (after a bad save) is not drawn,
    // yet it must go on polling its file, or the fix is never read.
    Scene* scheduledScene = nullptr;
    float progress = 0;  // percent of the shot's window of music time
    int frameStart = 0;
    int frameEnd = 0;
    float frameDelta = 0;  // seconds since the previous played frame

    // The one frame of the process.
    static FrameState& Current();
};

}  // namespace caldera
