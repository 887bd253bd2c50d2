#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include "app/Input.h"

class MusicClock;
class Music;
class Window;
class Scene;
class Camera;

// The render singleton. The shell's fields are here; the render targets,
// programs and passes join them as the renderer grows.
class Renderer {
public:
    static Renderer& Instance();

    // Audio set-up used by the entry.
    int audioDevice = -1;       // -1: the default device
    int audioFrequency = 44100;
    Music* music = nullptr;             // the soundtrack; owned by the entry
    MusicClock* musicClock = nullptr;   // what RenderFrame reads (the music, or a tool's clock)

    // Watcher -> render thread: the music has been started (or failed to start).
    std::atomic<bool> playing{false};
    // Watcher and the Enter key -> render thread: check shader files every frame.
    std::atomic<bool> shaderWatch{false};

    Window* hwnd = nullptr;  // render thread only

    // Written once after the window is created; render thread only afterwards.
    int screenWidth = 0;
    int screenHeight = 0;
    int glowWidth = 0;
    int glowHeight = 0;

    std::unique_ptr<InputState> inputState = std::make_unique<InputState>();

    // Frame state published by RenderFrame; render thread only.
    Scene* currentScene = nullptr;
    Camera* currentCamera = nullptr;
    float progress = 0;
    int frameStart = 0;
    int frameEnd = 0;
    float frameDelta = 0;

    // Frame matrices and the current camera's evaluated values, written by
    // the view set-up; render thread only.
    glm::mat4 projection{1.0f};
    glm::mat4 view{1.0f};
    glm::mat4 model{1.0f};
    glm::mat4 mvp{1.0f};
    glm::vec3 cameraRotation{0.0f};
    glm::vec3 cameraPosition{0.0f};

    // Programs, targets and default textures; render thread, context current.
    void Init();
    // One frame: follows the music through the timeline. Render thread only.
    void RenderFrame(Window* window);

private:
    Renderer() = default;
    int64_t previousTicks = 0;
};
