#pragma once

namespace caldera {

class SteppedSimulation;
class Window;

// One frame of the production, on the render thread: the front end
// (playback/FrameDriver.h) finds the shot and prepares the frame, the
// renderer draws it. Does nothing until the music plays; a moment no shot
// covers shows black.
void RenderFrame(Window* window);

// The still at music time `t` of a stepped simulation, after its
// AdvanceTo(t), as the capture tool and the web page's stills draw it: the
// clear colour a show's earlier frames would have left, black where no shot
// covers the moment, and a frame whose own update step is empty.
void RenderStill(SteppedSimulation& simulation, double t, Window* window);

}  // namespace caldera
