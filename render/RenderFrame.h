#pragma once

namespace caldera {

class Window;

// One frame of the production, on the render thread: the front end
// (playback/FrameDriver.h) finds the shot and prepares the frame, the
// renderer draws it. Does nothing until the music plays; a moment no shot
// covers shows black.
void RenderFrame(Window* window);

}  // namespace caldera
