#pragma once

#include <cstdint>
#include <vector>

#include "playback/FrameClock.h"
#include "playback/PreparedFrame.h"
#include "scene/Array.h"

namespace caldera {

class MusicClock;

// A view that stands in for the shot camera's: the author's free camera. The
// shot's post levels (fades, glow, filter) still come from its camera.
struct CameraView {
    glm::vec3 position{0.0f};
    glm::vec3 rotation{0.0f};  // radians, as a camera keys them: pitch, yaw, roll
    float fov = 50;            // degrees, vertical
};
struct TimelineEntry;
class Texture;

// The front end of a frame, free of GL: turns the music position into the
// current shot and key frame, runs the scene's update step and file poll,
// and evaluates everything the back end (render/) draws into one
// PreparedFrame. A frame is BeginFrame, then PrepareFrame, then the back
// end's draw, then EndFrame. Render thread only.
class FrameDriver {
public:
    static FrameDriver& Instance();

    // Where frame times come from: the music's position, and the tick clock
    // particles move by (null: the steady clock; the capture tool and the
    // author's pause step their own).
    MusicClock* musicClock = nullptr;
    FrameClock* frameClock = nullptr;
    SteadyFrameClock steadyClock;
    int64_t previousTicks = 0;  // tick clock at the previous played frame; 0 before the first
    static constexpr int64_t kNominalFrameMicroseconds = 16667;

    // When set, frames are seen from this view instead of the shot camera's.
    const CameraView* viewOverride = nullptr;

    // The frame value the players draw; refilled every frame, keeping its
    // memory.
    PreparedFrame prepared;

private:
    friend void PrepareFrame(PreparedFrame& frame, float aspect);
    FrameDriver() = default;
    Texture* defaultLensDirt = nullptr;       // kept once found
    std::vector<ArrayInstance> arrayCopies;   // scratch of the array walk
};

// The first half of a frame: frame time, music position, the timeline's shot
// published in the frame state (currentScene, currentCamera, frameStart,
// frameEnd and progress). False when no shot covers the music position.
bool BeginFrame();

// After a true BeginFrame: the scene's update step (every particle system
// moves by the frame time), the scene's file poll (a reload comes before
// anything of the frame is evaluated, so every pass sees the same content),
// then the evaluation of the camera, shadow view, lights, drawables,
// particle quads and post levels at the current key frame into `frame`.
// `aspect` is the picture's width over its height.
void PrepareFrame(PreparedFrame& frame, float aspect);

// BeginFrame and the update step by `seconds`, without evaluating anything:
// the capture tool steps the simulation on its own grid with it. False when
// no shot covers the music position.
bool StepFrame(float seconds);

// Where `entry`'s window puts music time `t`: its frame range truncated
// toward zero and the percent of the window elapsed, as BeginFrame publishes
// them.
struct ShotPosition {
    int frameStart = 0;
    int frameEnd = 0;
    float progress = 0;
};
ShotPosition PositionIn(const TimelineEntry& entry, double t);
// The key frame properties evaluate at for music time `t` in `entry`.
float KeyFrameAt(const TimelineEntry& entry, double t);

// Ends a frame: what a reload during it retired is freed.
void EndFrame();

// The current camera's view set-up at the current key frame (or the view
// override's): projection, view, an identity model, mvp, cameraRotation,
// cameraPosition and fov. Leaves them as they were without a current camera.
void SetUpView(PreparedFrame& frame, float aspect);

}  // namespace caldera
