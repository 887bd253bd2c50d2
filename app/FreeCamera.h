#pragma once

#include <string>

#include "playback/FrameDriver.h"

namespace caldera {

// The author mode's free camera: a view the author flies through the scene
// while time, animation and the shot camera's post levels go on, and that
// prints itself as camera keys to paste. Render thread only.
class FreeCamera {
public:
    bool active = false;
    CameraView view;
    float speed = 4.0f;  // scene units a second; Shift moves four times faster

    // On: starts at `shown`, the view of the frame last drawn (the shot
    // camera's). Off: the shot camera again.
    void Toggle(const CameraView& shown);
    // A mouse drag of (dx, dy) pixels: right turns right, down looks down.
    void Look(float dx, float dy);
    // Wheel notches: each one changes the speed by a quarter.
    void ChangeSpeed(int notches);

    // Held movement keys of one pass, each -1, 0 or 1: forward (W/S),
    // right (D/A) and up (E/Q), along the view's own directions; up is the
    // scene's.
    struct Motion {
        int forward = 0;
        int right = 0;
        int up = 0;
        bool fast = false;
    };
    void Move(const Motion& motion, float seconds);
};

// `view` as XML ready to paste into a scene: a comment with the music time
// and shot, then a Camera element named `cameraName` with one Position and one
// Rotation key at `keyFrame`, and the FOV. Numbers are written so that they
// read back as the same floats.
std::string CameraViewXml(const CameraView& view, const std::string& cameraName, long long keyFrame,
                          double musicSeconds, const std::string& shotText);

}  // namespace caldera
