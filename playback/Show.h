#pragma once

#include <atomic>
#include <memory>

#include "platform/Input.h"

namespace caldera {

class Music;
class Window;

// The show around the frames: the audio set-up, the soundtrack, the flags the
// watcher thread hands the render thread, the input and the window. One per
// process.
class Show {
public:
    static Show& Instance() {
        static Show instance;
        return instance;
    }

    // Audio set-up used by the entry.
    int audioDevice = -1;  // -1: the default device
    int audioFrequency = 44100;
    Music* music = nullptr;  // the soundtrack; owned by the entry

    // Watcher -> render thread: the music has been started (or failed to
    // start); frames draw nothing before.
    std::atomic<bool> playing{false};
    // Watcher and the Enter key -> render thread: check shader files every frame.
    std::atomic<bool> shaderWatch{false};

    Window* hwnd = nullptr;  // the render window; render thread only
    std::unique_ptr<InputState> inputState = std::make_unique<InputState>();  // render thread only

private:
    Show() = default;
};

}  // namespace caldera
