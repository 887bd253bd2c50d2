#pragma once

#include "platform/Music.h"
#include "playback/FrameClock.h"

namespace caldera {

// A music position set by hand: the still and video makers' clock.
class SteppedMusicClock : public MusicClock {
public:
    double seconds = 0;
    double PositionSeconds() const override { return seconds; }
};

// The one simulation clock of stills: the scene advances on a fixed grid of
// steps from time 0 (1/rate s each), without drawing, and a frame at music
// time T draws the grid's state at T. So a still at T is the same picture
// whichever way it is made. Connect `music` and `frames` to the production
// (ConnectProduction) and load it before the first step.
class SteppedSimulation {
public:
    SteppedSimulation(SteppedMusicClock& music, FixedStepClock& frames, double rate = 60)
        : music(music), frames(frames), rate(rate) {}

    // Steps every grid point up to and including `t`: the front end's update
    // step, without drawing. Stops early once a quit signal came
    // (platform/QuitSignal.h).
    void AdvanceTo(double t);

    // Sets the clocks for the frame at `t` (after AdvanceTo(t)): the frame's
    // own update step is empty, so drawing never moves the simulation.
    void SetUpFrame(double t);

    // Whether some step so far had a shot.
    bool SceneShown() const { return sceneShown; }

private:
    SteppedMusicClock& music;
    FixedStepClock& frames;
    double rate;
    long done = 0;  // grid points stepped
    bool sceneShown = false;
};

}  // namespace caldera
