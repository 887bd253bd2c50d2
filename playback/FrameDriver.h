#pragma once

class Window;

// The per-frame driver: turns the music position into the current shot and
// key frame, then has the renderer draw it. Render thread only.

// One frame: follows the music through the timeline. Does nothing until the
// music plays.
void RenderFrame(Window* window);

// The first half of a frame: frame time, music position, the timeline's shot
// published in the frame state (currentScene, currentCamera, frameStart,
// frameEnd and progress). False when no shot covers the music position. The
// capture tool calls it alone to advance the simulation without drawing.
bool BeginFrame();
