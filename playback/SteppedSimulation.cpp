#include "playback/SteppedSimulation.h"

#include <cmath>

#include "platform/QuitSignal.h"
#include "playback/FrameDriver.h"

namespace caldera {

void SteppedSimulation::AdvanceTo(double t) {
    const long last = static_cast<long>(std::floor(t * rate + 1e-6));
    // A signal ends a long walk between two steps.
    while (done <= last && !QuitSignalled()) {
        music.seconds = static_cast<double>(done) / rate;
        if (StepFrame(static_cast<float>(1.0 / rate))) sceneShown = true;
        ++done;
    }
}

void SteppedSimulation::SetUpFrame(double t) {
    music.seconds = t;
    frames.Advance(0);
}

}  // namespace caldera
